// G64 files of arbitrary bytes: parsing, then the whole conversion to D64 sectors.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "formats/gcr.h"

using namespace kelvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const TDkG64Image image = TDkG64Image::Parse(ByteView(data, size));
    const TDkG64Sectors sectors = DkG64DecodeSectors(image);
    if (sectors.TrackCount < 35 || sectors.TrackCount > 42) std::abort();
    if (sectors.ImageBytes.size() !=
        static_cast<std::size_t>(DkG64SectorOffset(sectors.TrackCount + 1, 0))) {
      std::abort();
    }
  } catch (const EDkG64Image&) {
  }
  return 0;
}
