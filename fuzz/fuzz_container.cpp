// T64 tapes (KELVANE_FUZZ_FORMAT 0) and Lynx archives (1) of arbitrary bytes: opened strictly and
// recovering, listed, every entry read and the listing drawn. Nothing may fail other than by a
// library exception, and what a strict open accepts a recovering one lists alike.
//
// The input follows a fixed start (the T64 signature, the Lynx BASIC program) so that the fuzzer
// spends its time on the directory rather than on finding the signature.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/exception.h"
#include "registry/registry.h"
#include "render/listing_render.h"

using namespace kelvane;

namespace {

Bytes Prefix() {
#if KELVANE_FUZZ_FORMAT == 0
  const char signature[] = "C64 tape image file";
  return Bytes(signature, signature + std::strlen(signature));
#else
  // 10 SYS2061, as Lynx writes before its directory.
  return {0x01, 0x08, 0x0B, 0x08, 0x0A, 0x00, 0x9E, '2', '0', '6', '1', 0x00, 0x00, 0x00};
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes bytes = Prefix();
  bytes.insert(bytes.end(), data, data + size);
  const std::string name = KELVANE_FUZZ_FORMAT == 0 ? "fuzz.t64" : "fuzz.lnx";
  std::size_t strict_entries = 0;
  bool strict_opened = false;
  try {
    const auto image = DkOpenImage(bytes, name, false);
    strict_entries = image->Entries().size();
    strict_opened = true;
  } catch (const Exception&) {
  }
  try {
    const auto image = DkOpenImage(bytes, name, true);
    if (strict_opened && image->Entries().size() != strict_entries) std::abort();
    for (const TDkCbmEntry& entry : image->Entries()) {
      if (image->ReadFile(entry).size() > bytes.size() + 2) std::abort();
    }
    TDkRenderImage picture;
    DkRenderDiskPreview(bytes, name, 0, 1, 20, picture, csUpperGraphics);
  } catch (const Exception&) {
  }
  return 0;
}
