// Adding a file to damaged images of every writable format: the input is laid over a blank image
// at its system area (as for the opening targets), byte 0 picks the format, byte 1 the file's
// size and type. Nothing may crash, hang or change the image's size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/exception.h"
#include "support/disk_builder.h"
#include "write/directory_writer.h"
#include "write/writer_select.h"

using namespace kelvane;
using namespace kelvane::testing;

namespace {

struct Target {
  const char* name;
  Bytes (*blank)();
  std::size_t system_offset;
};

const Target kTargets[] = {
    {"f.d64", [] { return BlankD64(); }, 357 * 256},
    {"f.d71", [] { return BlankD71(); }, 357 * 256},
    {"f.d81", [] { return BlankD81(); }, 39 * 40 * 256},
    {"f.d80", [] { return BlankD80(); }, 37 * 29 * 256},
    {"f.d82", [] { return BlankD82(); }, 37 * 29 * 256},
    {"f.dnp", [] { return BlankDnp(4); }, 0},
    {"f.dfi", [] { return BlankDfi(2); }, 0},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const Target& target = kTargets[data[0] % 7];
  Bytes image = target.blank();
  const std::size_t image_size = image.size();
  std::size_t at = target.system_offset;
  for (std::size_t i = 2; i < size && at < image.size(); ++i) image[at++] = data[i];
  const Bytes content = PatternBytes(static_cast<std::size_t>(data[1] & 0x3F) * 97, data[1]);
  const TDkCbmFileType type = static_cast<TDkCbmFileType>((data[1] >> 6) % 4);
  try {
    auto writer = DkOpenWriter(image, target.name);
    for (int i = 0; i < 3; ++i) {
      const Bytes name = {'F', static_cast<std::uint8_t>('0' + i)};
      DkCbmAddFile(*writer, writer->DirTrack(), writer->FirstDirSector(), name, type, content);
    }
  } catch (const Exception&) {
  }
  if (image.size() != image_size) std::abort();
  return 0;
}
