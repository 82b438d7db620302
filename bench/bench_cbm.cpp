// Directory walk and chain read over an in-memory disk.
#include <benchmark/benchmark.h>

#include "cbm/chain.h"
#include "support/disk_builder.h"

namespace kelvane {
namespace {

using testing::FlatDisk;

// 18 directory sectors (18/1..18/18), eight entries each: the 144-entry directory of a full D64.
void BM_DirectoryWalk18Sectors(benchmark::State& state) {
  FlatDisk disk(35, 21);
  for (int s = 1; s <= 18; ++s) {
    for (int i = 0; i < 8; ++i)
      disk.PutEntry(18, s, i, {"FILE" + std::to_string(s * 8 + i), 0x82, 1, 0, 1});
    disk.Link(18, s, s < 18 ? 18 : 0, s < 18 ? s + 1 : 255);
  }
  const auto image = disk.Open();
  const TDkCbmReadSectorFunc read = image->SectorReader();
  for (auto _ : state) {
    TDkCbmEntryArray entries = DkCbmParseDirectory(18, 1, read);
    benchmark::DoNotOptimize(entries.data());
  }
  state.SetItemsProcessed(state.iterations() * 144);
}
BENCHMARK(BM_DirectoryWalk18Sectors);

// A 600-sector file scattered over a 40-track disk with 21 sectors per track.
void BM_ChainRead600Sectors(benchmark::State& state) {
  FlatDisk disk(40, 21);
  // Stride 337 is coprime with the 840 sectors, so the first 600 steps never repeat a sector.
  testing::SectorPath path;
  for (int i = 0; i < 600; ++i) {
    const int linear = (i * 337) % 840;
    path.emplace_back(1 + linear / 21, linear % 21);
  }
  const Bytes data = testing::PatternBytes(600 * 254, 1);
  disk.WriteFile(path, data);
  const auto image = disk.Open();
  const TDkCbmReadSectorFunc read = image->SectorReader();
  for (auto _ : state) {
    Bytes file = DkCbmChainReadFile(path[0].first, path[0].second, read);
    benchmark::DoNotOptimize(file.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(data.size()));
}
BENCHMARK(BM_ChainRead600Sectors);

}  // namespace
}  // namespace kelvane
