// The pool listing parser at 10, 10,000 and 1,000,000 pools, read from
// memory: bytes per second through ParsePoolListing.

#include <benchmark/benchmark.h>

#include <sstream>
#include <string>

#include "survey/pool_listing.h"

namespace {

std::string Listing(int pools) {
  std::string text =
      "Pool name        Capacity(MB)  Free(MB)\n"
      "---------------  ------------  --------\n";
  for (int i = 0; i < pools; ++i) {
    text += "Pool" + std::to_string(i) + "        " + std::to_string(20000 + i % 5000) +
            "         " + std::to_string(8000 + i % 3000) + "\n";
  }
  return text;
}

void BM_ParsePoolListing(benchmark::State& state) {
  const std::string text = Listing(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::istringstream listing(text);
    benchmark::DoNotOptimize(ParsePoolListing(listing, 30));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParsePoolListing)->Arg(10)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
