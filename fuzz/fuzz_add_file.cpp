// Adding a file to damaged images of every writable format: the input is laid over a blank image
// at its system area (as for the opening targets), byte 0 picks the format, byte 1 the file's
// size and type. Nothing may crash, hang or change the image's size, and a failed add rolled
// back through the writer's journal leaves exactly the bytes from before it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "common/exception.h"
#include "damaged_image.h"
#include "support/disk_builder.h"
#include "write/directory_writer.h"
#include "write/writer_select.h"

using namespace kelvane;
using namespace kelvane::testing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const WritableTarget& target = kWritableTargets[data[0] % 7];
  Bytes image = DamagedImage(target, data, size, 2);
  const std::size_t image_size = image.size();
  const Bytes content = PatternBytes(static_cast<std::size_t>(data[1] & 0x3F) * 97, data[1]);
  const TDkCbmFileType type = static_cast<TDkCbmFileType>((data[1] >> 6) % 4);
  try {
    auto writer = DkOpenWriter(image, target.name);
    for (int i = 0; i < 3; ++i) {
      const Bytes name = {'F', static_cast<std::uint8_t>('0' + i)};
      const Bytes before = image;
      writer->StartJournal();
      try {
        DkCbmAddFile(*writer, writer->DirTrack(), writer->FirstDirSector(), name, type, content);
      } catch (const Exception&) {
        writer->RollBack();
        if (image != before) std::abort();
      }
    }
  } catch (const Exception&) {
  }
  if (image.size() != image_size) std::abort();
  return 0;
}
