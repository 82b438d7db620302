// The charset button's icons at the sizes 96, 192 and 384 DPI ask for.
#include <benchmark/benchmark.h>

#include "render/charset.h"
#include "render/icons.h"

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

}  // namespace
}  // namespace kelvane
