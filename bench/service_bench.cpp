// Lookup cost inside the bundled service, without the network.
#include "service/location_resolver.h"
#include "service/lookup_page.h"
#include "data/number_normalizer.h"

#include <benchmark/benchmark.h>

#include <chrono>

using namespace teloria::service;

namespace {

const LocationResolver& resolver()
{
    static const LocationResolver r;
    return r;
}

// One lookup of a 7-digit prefix already seen: the per-number cost once warm.
void BM_LookupSeenPrefix(benchmark::State& state)
{
    const CleanNumber number = *cleanNumber("13912345678");
    resolver().resolve(number);
    for (auto _ : state)
        benchmark::DoNotOptimize(&resolver().resolve(number));
}
BENCHMARK(BM_LookupSeenPrefix);

// What one request costs the service before HTTP: clean the typed text,
// look up, build the GBK page.
void BM_AnswerPageSeenPrefix(benchmark::State& state)
{
    resolver().resolve(*cleanNumber("13912345678"));
    for (auto _ : state) {
        const auto number = cleanNumber("+86 139-1234-5678");
        std::string page = answerPage(number->digits, resolver().resolve(*number));
        benchmark::DoNotOptimize(page.data());
    }
}
BENCHMARK(BM_AnswerPageSeenPrefix);

// The first lookup of a prefix: the geocoder and the segment table.
void BM_LookupNewPrefix(benchmark::State& state)
{
    static LocationResolver fresh;
    std::uint32_t prefix = 1300000;
    for (auto _ : state) {
        const CleanNumber number{NumberKind::Mobile, std::to_string(prefix) + "0000", 0};
        benchmark::DoNotOptimize(&fresh.resolve(number));
        if (++prefix > 1999999)
            state.SkipWithError("ran out of new prefixes");
    }
}
BENCHMARK(BM_LookupNewPrefix)->Iterations(200000);

// Landline numbers, cached by area code.
void BM_LookupSeenLandline(benchmark::State& state)
{
    const CleanNumber number = *cleanNumber("0755-12345678");
    resolver().resolve(number);
    for (auto _ : state)
        benchmark::DoNotOptimize(&resolver().resolve(number));
}
BENCHMARK(BM_LookupSeenLandline);

// Start-up: building a resolver, ready for its first lookup.
void BM_ResolverStart(benchmark::State& state)
{
    for (auto _ : state) {
        LocationResolver r;
        benchmark::DoNotOptimize(&r.resolve(*cleanNumber("13800138000")));
    }
}
BENCHMARK(BM_ResolverStart)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
