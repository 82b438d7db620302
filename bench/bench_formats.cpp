// Opening an image and building its listing, per format, on helper-built images with full
// directories.
#include <benchmark/benchmark.h>

#include "cbm/listing.h"
#include "registry/registry.h"
#include "support/disk_builder.h"
#include "write/blank.h"

namespace kelvane {
namespace {

using namespace testing;

// Fills the directory chain `sectors` (on `track`) with eight entries each and links them.
void FillDirectory(SectorEditor& disk, int track, const std::vector<int>& sectors) {
  for (std::size_t i = 0; i < sectors.size(); ++i) {
    for (int slot = 0; slot < 8; ++slot) {
      disk.PutEntry(track, sectors[i], slot,
                    {"FILE " + std::to_string(i * 8 + static_cast<std::size_t>(slot)), 0x82, 1, 0,
                     static_cast<int>(i) + slot});
    }
    const bool last = i + 1 == sectors.size();
    disk.Link(track, sectors[i], last ? 0 : track, last ? 255 : sectors[i + 1]);
  }
}

std::vector<int> Range(int first, int last) {
  std::vector<int> sectors;
  for (int s = first; s <= last; ++s) sectors.push_back(s);
  return sectors;
}

void OpenAndList(benchmark::State& state, const Bytes& bytes, const std::string& name,
                 std::size_t expected_entries) {
  // The caller hands its bytes over, and frees the image later: neither the copy nor the
  // release of the bytes is part of opening and listing.
  for (auto _ : state) {
    state.PauseTiming();
    Bytes copy = bytes;
    state.ResumeTiming();
    auto image = DkOpenImage(std::move(copy), name, false);
    std::uint8_t color = kListStartColor;
    std::size_t cells = 0;
    for (const TDkCbmEntry& entry : image->Entries()) {
      cells += DkListBasicLine(entry.Blocks, DkCbmEntryLineBody(entry), color).size();
    }
    if (image->Entries().size() != expected_entries) state.SkipWithError("wrong entry count");
    benchmark::DoNotOptimize(cells);
    state.PauseTiming();
    image.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(expected_entries));
}

void BM_OpenAndListD64_144Entries(benchmark::State& state) {
  Bytes bytes = BlankD64();
  SectorEditor disk(bytes, D64Offset);
  FillDirectory(disk, 18, Range(1, 18));
  OpenAndList(state, bytes, "full.d64", 144);
}
BENCHMARK(BM_OpenAndListD64_144Entries);

void BM_OpenAndListD81_296Entries(benchmark::State& state) {
  Bytes bytes = BlankD81();
  SectorEditor disk(bytes, D81Offset);
  FillDirectory(disk, 40, Range(3, 39));
  OpenAndList(state, bytes, "full.d81", 296);
}
BENCHMARK(BM_OpenAndListD81_296Entries);

// A 16 MiB DNP whose root directory chain runs through 192 sectors of track 1 and all of track 2.
void BM_OpenAndListDnp16MiB_3584Entries(benchmark::State& state) {
  Bytes bytes = BlankDnp(256);
  SectorEditor disk(bytes, FlatOffset);
  FillDirectory(disk, 1, Range(34, 255));
  FillDirectory(disk, 2, Range(0, 255));
  disk.Link(1, 255, 2, 0);
  OpenAndList(state, bytes, "big.dnp", std::size_t{(222 + 256) * 8});
}
BENCHMARK(BM_OpenAndListDnp16MiB_3584Entries);

// A D4M of four 1581 partitions with full directories: opening reads every partition's
// directory, the listing shows the default one's 296 files and the four partition rows.
void BM_OpenAndListD4M_Four1581Partitions(benchmark::State& state) {
  Bytes d81 = BlankD81();
  SectorEditor partition(d81, D81Offset);
  FillDirectory(partition, 40, Range(3, 39));
  Bytes bytes = DkBlankImage({cifD4M, 0, PaddedName("BENCH"), {'B', 'N'}});
  const std::size_t table = 0x1900 * 512 + 8 * 256;
  for (int n = 1; n <= 4; ++n) {
    std::uint8_t* entry = bytes.data() + table + static_cast<std::size_t>(n) * 32;
    const int start = (n - 1) * 0x640;
    entry[2] = 4;  // 1581
    entry[0x16] = static_cast<std::uint8_t>(start >> 8);
    entry[0x17] = static_cast<std::uint8_t>(start);
    entry[0x1E] = 0x06;
    entry[0x1F] = 0x40;
    std::copy(d81.begin(), d81.end(), bytes.begin() + start * 512);
  }
  OpenAndList(state, bytes, "full.d4m", 296 + 4);
}
BENCHMARK(BM_OpenAndListD4M_Four1581Partitions);

}  // namespace
}  // namespace kelvane

namespace kelvane {
namespace {

// What PauseTiming/ResumeTiming themselves cost per iteration, to subtract from the figures above.
void BM_PauseResumeOverhead(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    state.ResumeTiming();
    state.PauseTiming();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_PauseResumeOverhead);

}  // namespace
}  // namespace kelvane

namespace kelvane {
namespace {

// One typical entry line through the LIST model.
void BM_ListOneEntryLine(benchmark::State& state) {
  TDkCbmEntry entry;
  entry.NameBytes = testing::PaddedName("SOME GAME NAME");
  entry.Blocks = 123;
  entry.Closed = true;
  entry.FileType = cftPRG;
  for (auto _ : state) {
    std::uint8_t color = kListStartColor;
    TDkListCells cells = DkListBasicLine(entry.Blocks, DkCbmEntryLineBody(entry), color);
    benchmark::DoNotOptimize(cells.data());
  }
}
BENCHMARK(BM_ListOneEntryLine);

}  // namespace
}  // namespace kelvane
