// Choosing the folder and file over a full 65000-byte listing area.
#include <benchmark/benchmark.h>

#include <string>

#include "media/ftp_listing.h"

namespace {

std::string FullListing() {
  std::string text;
  for (int i = 0; text.size() < 64990; ++i) text += "DJI_" + std::to_string(i) + ".MOV\r\n";
  text.resize(64999);
  return text;
}

void BM_ChooseMediaFolder(benchmark::State& state) {
  const std::string text = FullListing();
  char name[100];
  for (auto _ : state) {
    ChooseMediaFolder(text.data(), text.size(), name, sizeof(name));
    benchmark::DoNotOptimize(name);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ChooseMediaFolder);

void BM_ChooseMediaFile(benchmark::State& state) {
  const std::string text = FullListing();
  char name[100];
  for (auto _ : state) {
    ChooseMediaFile(text.data(), text.size(), name, sizeof(name));
    benchmark::DoNotOptimize(name);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ChooseMediaFile);

}  // namespace

BENCHMARK_MAIN();
