// PC64 files of arbitrary bytes under a few names: parse and read never fail other than by text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "formats/pc64.h"

using namespace kelvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const char* const kNames[] = {"a.p00", "B.S17", "c.u99", "d.r01",
                                       "e.x00", "f",     ".p00",  "g.p0"};
  const std::string name = kNames[data[0] % 8];
  const ByteView bytes(data + 1, size - 1);
  TDkPcSidecar sidecar;
  const std::string error = DkPcSidecarParse(name, bytes, sidecar);
  Bytes name_bytes;
  Bytes contents;
  TDkCbmFileType type = cftDEL;
  const bool read = DkPcSidecarRead(name, bytes, name_bytes, type, contents);
  if (read && (!error.empty() || name_bytes.empty() || name_bytes.size() > 16)) std::abort();
  if (error.empty() && sidecar.Data.size() + 26 != bytes.size()) std::abort();
  return 0;
}
