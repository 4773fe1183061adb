// The prefix store: the cost of one lookup of a prefix already looked at.
#include "data/prefix_store.h"

#include <benchmark/benchmark.h>

#include <vector>

using namespace teloria::data;

static void BM_StoreWarmLookup(benchmark::State& state)
{
    static const PrefixStore store;
    std::vector<std::uint32_t> prefixes;
    for (std::uint32_t i = 0; i < 4096; ++i)
        prefixes.push_back(1300000 + (i * 7919) % 700000);
    for (const auto p : prefixes)
        benchmark::DoNotOptimize(&store.mobile(p)); // warm
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(&store.mobile(prefixes[i]));
        i = (i + 1) & 4095;
    }
}
BENCHMARK(BM_StoreWarmLookup);

static void BM_StoreWarmLookupCleanNumber(benchmark::State& state)
{
    static const PrefixStore store;
    const CleanNumber number{NumberKind::Mobile, "13912345678", 0};
    benchmark::DoNotOptimize(&store.lookup(number));
    for (auto _ : state)
        benchmark::DoNotOptimize(&store.lookup(number));
}
BENCHMARK(BM_StoreWarmLookupCleanNumber);

BENCHMARK_MAIN();
