// Adding files: 100 files of 1 to 20 blocks into an empty D81, and the space plan of a batch.
#include <benchmark/benchmark.h>

#include "support/disk_builder.h"
#include "write/directory_writer.h"
#include "write/drop_prep.h"
#include "write/writer_select.h"

namespace kelvane {
namespace {

using namespace testing;

void BM_AddHundredFilesToD81(benchmark::State& state) {
  const Bytes blank = BlankD81();
  std::vector<Bytes> contents;
  for (int i = 0; i < 100; ++i)
    contents.push_back(PatternBytes(static_cast<std::size_t>(1 + i % 20) * 254 - 7, i));
  for (auto _ : state) {
    Bytes bytes = blank;
    auto writer = DkOpenWriter(bytes, "x.d81");
    for (int i = 0; i < 100; ++i) {
      const std::string name = "FILE " + std::to_string(i);
      DkCbmAddFile(*writer, 40, 3, Bytes(name.begin(), name.end()), cftPRG,
                   contents[static_cast<std::size_t>(i)]);
    }
    benchmark::DoNotOptimize(bytes.data());
  }
}
BENCHMARK(BM_AddHundredFilesToD81)->Unit(benchmark::kMillisecond);

void BM_PlanSpaceHundredFiles(benchmark::State& state) {
  Bytes bytes = BlankD81();
  auto writer = DkOpenWriter(bytes, "x.d81");
  for (int i = 0; i < 40; ++i) {
    const std::string name = "OLD " + std::to_string(i);
    DkCbmAddFile(*writer, 40, 3, Bytes(name.begin(), name.end()), cftSEQ, PatternBytes(300, i));
  }
  std::vector<TDkCbmSpaceSource> sources;
  for (int i = 0; i < 100; ++i) sources.push_back({cftPRG, 254 * (1 + i % 20)});
  for (auto _ : state) {
    const TDkSpacePlan plan = DkPlanSpace(*writer, sources);
    benchmark::DoNotOptimize(plan.Total);
  }
}
BENCHMARK(BM_PlanSpaceHundredFiles)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kelvane
