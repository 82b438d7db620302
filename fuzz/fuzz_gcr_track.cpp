// One track of arbitrary GCR bits through the fast decoder and the simple bit-by-bit model: both
// must find the same sectors with the same bytes. Byte 0 picks the track number.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "formats/gcr.h"
#include "support/gcr_builder.h"

using namespace kelvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int track = 1 + data[0] % 43;
  const ByteView bytes(data + 1, size - 1);
  const int length = static_cast<int>(bytes.size());
  const TDkG64TrackDecode fast = DkGcrDecodeTrack(bytes, 0, length, track);
  const TDkG64TrackDecode simple = testing::ReferenceDecodeTrack(bytes, 0, length, track);
  if (fast.Found != simple.Found || fast.Sectors != simple.Sectors) std::abort();
  return 0;
}
