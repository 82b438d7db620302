// The whole drop write on the real file system: 50 files of 1 to 30 blocks dropped onto an
// empty D81 and onto the largest DNP in a memory-backed folder (/dev/shm where there is one),
// including the read-back, verification and swap. And the extraction of every entry of a full
// 144-entry D64.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "extract/entry_io.h"
#include "registry/registry.h"
#include "shell/drag_files.h"
#include "shell/drop_write.h"
#include "support/disk_builder.h"
#include "support/temp_folder.h"
#include "write/directory_writer.h"
#include "write/names.h"
#include "write/writer_select.h"

namespace kelvane {
namespace {

using namespace testing;

std::filesystem::path MemoryFolder() {
  std::error_code error;
  return std::filesystem::is_directory("/dev/shm", error) ? std::filesystem::path("/dev/shm")
                                                          : std::filesystem::path();
}

// Fifty files dropped onto an empty image held in a memory-backed folder.
void DropFiftyFiles(benchmark::State& state, const std::string& image_name, const Bytes& blank) {
  const TempFolder folder("bench-drop", MemoryFolder());
  std::vector<std::string> paths;
  for (int i = 0; i < 50; ++i) {
    const std::size_t blocks = 1 + static_cast<std::size_t>(i * 7) % 30;
    paths.push_back(folder.Write("file" + std::to_string(i) + ".prg",
                                 PatternBytes(blocks * 254 - 3, static_cast<std::uint32_t>(i))));
  }
  const std::unique_ptr<HostFiles> host = MakeSystemHostFiles();
  const std::string image = folder.Path(image_name);
  for (auto _ : state) {
    state.PauseTiming();
    folder.Write(image_name, blank);
    state.ResumeTiming();
    const TKvDropResult result = KvWriteDroppedFiles(image, paths, *host);
    if (result.WrittenCount != 50) state.SkipWithError(KvDropSummary(result).c_str());
  }
}
void BM_DropFiftyFilesOntoD81(benchmark::State& state) {
  DropFiftyFiles(state, "disk.d81", BlankD81());
}
BENCHMARK(BM_DropFiftyFilesOntoD81)->Unit(benchmark::kMillisecond);

// The largest image that can be written: a CMD native partition of 255 tracks (16 MiB less 64 KiB).
void BM_DropFiftyFilesOntoLargestDnp(benchmark::State& state) {
  DropFiftyFiles(state, "disk.dnp", BlankDnp(255));
}
BENCHMARK(BM_DropFiftyFilesOntoLargestDnp)->Unit(benchmark::kMillisecond);

// A full D64: 144 files of one to four blocks.
Bytes FullD64() {
  Bytes bytes = BlankD64();
  auto writer = DkOpenWriter(bytes, "x.d64");
  for (int i = 0; i < 144; ++i) {
    DkCbmAddFile(*writer, 18, 1, DkCbmHostNameToBytes("FILE/" + std::to_string(i)), cftPRG,
                 PatternBytes(static_cast<std::size_t>(1 + i % 4) * 254, i));
  }
  return bytes;
}

void BM_ExtractAllOfFullD64(benchmark::State& state) {
  const Bytes bytes = FullD64();
  const auto image = DkOpenImage(bytes, "x.d64", false);
  std::vector<std::string> paths;
  for (int i = 0; i < 144; ++i) paths.push_back(MakeEntryPath("x.d64", i));
  for (auto _ : state) {
    TDkDiskEntryReadArray reads;
    std::string error;
    ReadSelection(paths, *image, true, reads, error);
    if (reads.size() != 144) state.SkipWithError("not every entry was read");
    benchmark::DoNotOptimize(reads.data());
  }
}
BENCHMARK(BM_ExtractAllOfFullD64)->Unit(benchmark::kMicrosecond);

// The drag list of every entry of a full D64 (what a drag of all of them reads first).
void BM_BuildDragFilesFullD64(benchmark::State& state) {
  const Bytes bytes = FullD64();
  std::vector<int> all(144);
  for (int i = 0; i < 144; ++i) all[i] = i;
  for (auto _ : state) {
    TKvDragFileArray files;
    if (!BuildDragFiles(bytes, ".d64", all, files) || files.size() != 144) {
      state.SkipWithError("not every entry was offered");
    }
    benchmark::DoNotOptimize(files.data());
  }
}
BENCHMARK(BM_BuildDragFilesFullD64)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kelvane
