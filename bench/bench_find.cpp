// kelvane find over a collection on disk (warm cache): images a second for plain and zipped
// D64s, one thread and all, beside a loop of one `kelvane list` process per image, the way a
// user without find would go through a collection; and the peak resident size of a find over
// 10,000 images, run as its own process.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "cli/cli.h"
#include "common/format.h"
#include "support/collection.h"
#include "support/disk_builder.h"
#include "support/temp_folder.h"

extern char** environ;

namespace kelvane {
namespace {

constexpr int kImages = 1000;

// Folders of D64s, each with 20 entries and one name of its own, plain and zipped.
struct Collections {
  testing::TempFolder folder{"bench-find"};
  std::vector<std::string> plain_files;
  Collections() {
    std::filesystem::create_directories(folder.Path("plain"));
    std::filesystem::create_directories(folder.Path("zip"));
    for (int n = 0; n < 10000; ++n) {
      Bytes d64 = testing::D64WithEntries(20);
      testing::SectorEditor(d64, testing::D64Offset).PutEntry(18, 1, 0, {Format("DISK %d", n)});
      const std::string name = Format("%05d.d64", n);
      if (n < kImages) {
        plain_files.push_back(folder.Write("plain/" + name, d64));
        testing::WriteArchive(folder.Path("zip/" + name + ".zip"), {{name, d64}}, false);
      }
      if (n == 0) std::filesystem::create_directories(folder.Path("many"));
      folder.Write("many/" + name, d64);
    }
  }
};

Collections& Shared() {
  static Collections collections;
  return collections;
}

void Find(benchmark::State& state, const char* kind) {
  const std::string jobs =
      std::to_string(state.range(0) == 0 ? std::thread::hardware_concurrency() : state.range(0));
  const std::string path = Shared().folder.Path(kind);
  for (auto _ : state) {
    std::ostringstream out;
    std::ostringstream err;
    if (cli::Run({"find", "DISK 7*", path, "-j", jobs}, out, err) != 0)
      state.SkipWithError(err.str().c_str());
  }
  state.SetItemsProcessed(state.iterations() * kImages);
  state.SetLabel(jobs + " threads");
}
BENCHMARK_CAPTURE(Find, PlainD64, "plain")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(Find, ZippedD64, "zip")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Runs the tool as a child with its output thrown away; returns its peak resident size in KiB.
long RunTool(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::string tool = KELVANE_TOOL;
  argv.push_back(tool.data());
  std::vector<std::string> copies = args;
  for (std::string& arg : copies) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  if (posix_spawn(&pid, KELVANE_TOOL, &actions, nullptr, argv.data(), environ) != 0) return -1;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  return usage.ru_maxrss;
}

void ListProcessPerImage(benchmark::State& state) {
  const std::vector<std::string>& files = Shared().plain_files;
  for (auto _ : state) {
    for (const std::string& file : files) RunTool({"list", file});
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(files.size()));
}
BENCHMARK(ListProcessPerImage)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void FindPeakMemory10000Images(benchmark::State& state) {
  long peak = 0;
  for (auto _ : state)
    peak = std::max(peak, RunTool({"find", "DISK 7*", Shared().folder.Path("many")}));
  state.counters["peak_MiB"] = static_cast<double>(peak) / 1024.0;
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(FindPeakMemory10000Images)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
}  // namespace kelvane
