// GCR-level images to D64: the table-driven decoder, and beside it the simple bit-by-bit model
// the tests keep as the reference.
#include <benchmark/benchmark.h>

#include "formats/gcr.h"
#include "support/disk_builder.h"
#include "support/gcr_builder.h"

namespace kelvane {
namespace {

using namespace testing;

// A 42-track disk with every sector readable.
Bytes FullG64() {
  Bytes d64 = BlankD64(42, false, ddvExtended42);
  for (std::size_t i = 0; i < d64.size(); i += 7) d64[i] = static_cast<std::uint8_t>(i >> 3);
  return BuildG64(GcrTracksOf(d64, 42));
}

void BM_G64ToD64_42Tracks(benchmark::State& state) {
  const Bytes g64 = FullG64();
  for (auto _ : state) {
    TDkGcrConversion converted = DkG64ToD64(g64);
    if (converted.BadSectorCount != 0) state.SkipWithError("bad sectors");
    benchmark::DoNotOptimize(converted.ImageBytes.data());
  }
}
BENCHMARK(BM_G64ToD64_42Tracks)->Unit(benchmark::kMillisecond);

void BM_G64ToD64_42Tracks_SimpleModel(benchmark::State& state) {
  const Bytes g64 = FullG64();
  const TDkG64Image image = TDkG64Image::Parse(g64);
  for (auto _ : state) {
    int found = 0;
    for (int track = 1; track <= 42; ++track) {
      const TDkG64Track& record = image.Tracks()[static_cast<std::size_t>((track - 1) * 2)];
      const TDkG64TrackDecode decoded =
          ReferenceDecodeTrack(image.FileBytes(), record.DataOffset + 2, record.Length, track);
      found += static_cast<int>(std::count(decoded.Found.begin(), decoded.Found.end(), 1));
    }
    if (found != 802) state.SkipWithError("bad sectors");
  }
}
BENCHMARK(BM_G64ToD64_42Tracks_SimpleModel)->Unit(benchmark::kMillisecond);

// 84 slots: every full and half track of 42, each captured as noise then repeated revolutions.
void BM_NibToD64_84Slots(benchmark::State& state) {
  const Bytes d64 = BlankD64(42, false, ddvExtended42);
  std::vector<std::pair<int, int>> entries;
  std::vector<Bytes> data;
  for (int half = 2; half < 86; ++half) {
    const int track = half / 2;
    const int zone = track <= 17 ? 3 : track <= 24 ? 2 : track <= 30 ? 1 : 0;
    static const int kCapacity[4] = {6250, 6666, 7142, 7692};
    const Bytes revolution = GcrTrack(track, d64, kCapacity[zone] - 20);
    Bytes raw(23, 0x24);
    while (raw.size() < 8192) raw.insert(raw.end(), revolution.begin(), revolution.end());
    raw.resize(8192);
    entries.emplace_back(half, zone);
    data.push_back(raw);
  }
  const Bytes nib = BuildNib(entries, data);
  for (auto _ : state) {
    TDkGcrConversion converted = DkGcrImageToD64(nib, ".nib");
    if (converted.BadSectorCount != 0) state.SkipWithError("bad sectors");
    benchmark::DoNotOptimize(converted.ImageBytes.data());
  }
}
BENCHMARK(BM_NibToD64_84Slots)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvane
