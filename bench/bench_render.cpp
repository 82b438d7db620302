// The charset button's icons at the sizes 96, 192 and 384 DPI ask for.
#include <benchmark/benchmark.h>

#include "render/charset.h"
#include "render/icons.h"
#include "render/listing_render.h"
#include "render/thumbnail.h"
#include "support/disk_builder.h"

namespace kelvane {
namespace {

void BM_RasteriseIcon(benchmark::State& state) {
  const auto charset = static_cast<TDkCharset>(state.range(1));
  const int size = static_cast<int>(state.range(0));
  for (auto _ : state) {
    TKvIconMask mask;
    if (!RasteriseIcon(IconPath(charset), size, mask)) state.SkipWithError("refused");
    benchmark::DoNotOptimize(mask.Coverage.data());
  }
}
BENCHMARK(BM_RasteriseIcon)->ArgsProduct({{14, 28, 56}, {csUpperGraphics, csLowerUpper}});

// A full 144-entry D64 listing at scale 2: 146 rows of 16-pixel cells, about 4 MB of pixels.
void BM_RenderD64_144Entries_Scale2(benchmark::State& state) {
  const Bytes bytes = testing::D64WithEntries(144);
  for (auto _ : state) {
    TDkRenderImage image;
    if (!DkRenderDiskPreview(bytes, "full.d64", 0, 2, 0, image, csUpperGraphics)) {
      state.SkipWithError("not rendered");
    }
    benchmark::DoNotOptimize(image.Pixels.data());
  }
}
BENCHMARK(BM_RenderD64_144Entries_Scale2)->Unit(benchmark::kMicrosecond);

// The preview's first screen: the rows of a 1000-pixel-high pane at scale 2, read once and drawn
// into the buffer of the previous listing, as the preview handler does.
void BM_RenderFirstScreenIntoSpareBuffer(benchmark::State& state) {
  const Bytes bytes = testing::D64WithEntries(144);
  TRenderRows rows;
  if (!DkReadListing(bytes, "full.d64", rows)) state.SkipWithError("not read");
  TDkRenderImage image;
  for (auto _ : state) {
    int drawn = 0;
    if (!RenderRows(rows, 0, 2, 63, image, drawn, csUpperGraphics)) {
      state.SkipWithError("not rendered");
    }
    benchmark::DoNotOptimize(image.Pixels.data());
  }
}
BENCHMARK(BM_RenderFirstScreenIntoSpareBuffer)->Unit(benchmark::kMicrosecond);

// Reading a full D64's listing rows and entries, as each preview does once.
void BM_ReadListingD64_144Entries(benchmark::State& state) {
  const Bytes bytes = testing::D64WithEntries(144);
  for (auto _ : state) {
    TRenderRows rows;
    TDkCbmEntryArray entries;
    if (!DkReadListing(bytes, "full.d64", rows, &entries)) state.SkipWithError("not read");
    benchmark::DoNotOptimize(rows.data());
  }
}
BENCHMARK(BM_ReadListingD64_144Entries)->Unit(benchmark::kMicrosecond);

// A 256-pixel thumbnail of a full 144-entry D64, as Explorer's large icons ask for it.
void BM_Thumbnail256_144Entries(benchmark::State& state) {
  const Bytes bytes = testing::D64WithEntries(144);
  for (auto _ : state) {
    TDkRenderImage thumbnail;
    if (!DkRenderThumbnail(bytes, "full.d64", 256, csUpperGraphics, thumbnail)) {
      state.SkipWithError("not rendered");
    }
    benchmark::DoNotOptimize(thumbnail.Pixels.data());
  }
}
BENCHMARK(BM_Thumbnail256_144Entries)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kelvane
