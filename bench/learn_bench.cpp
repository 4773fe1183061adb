// Learning from an online lookup service, through the service's own lookup
// path: 10,000 numbers over 2,000 prefixes no local data knows, against a fake
// upstream with 20 ms latency and --upstream-rate 1000; then the cost of a
// lookup once learned, beside one the built-in data answer.
#include "data/fake_upstream.h"

#include "data/data_files.h"
#include "data/learning.h"
#include "service/location_resolver.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

using namespace teloria;
using teloria::testing::FakeUpstream;
using teloria::testing::Reply;
namespace fs = std::filesystem;
using Clock_ = std::chrono::steady_clock;

int main()
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    constexpr int kPrefixes = 2000;
    constexpr int kNumbers = 10000;
    constexpr int kClients = 16;

    std::string tmpl = (fs::temp_directory_path() / "teloria-learn-bench-XXXXXX").string();
    const fs::path dir = ::mkdtemp(tmpl.data());

    FakeUpstream upstream([](const std::string&) {
        return Reply{.body = teloria::testing::gbkPage(QStringLiteral("广东 深圳"), QStringLiteral("中国移动")),
                     .delay = std::chrono::milliseconds(20)};
    });

    std::vector<std::string> numbers;
    for (int i = 0; i < kNumbers; ++i)
        numbers.push_back(std::to_string(1990000 + (i % kPrefixes)) + "1234");
    std::shuffle(numbers.begin(), numbers.end(), std::mt19937(20240601));

    data::LearnSettings learn;
    learn.upstream = QString::fromStdString(upstream.baseUrl());
    learn.rate = 1000;
    learn.learnedFile = dir / "learned.sqlite";
    {
        data::LoadedStore loaded = data::loadStore(data::DataSettings{{}, false, "", learn});
        const service::LocationResolver resolver(loaded.store, loaded.learning);
        std::vector<data::CleanNumber> clean;
        for (const std::string& n : numbers)
            clean.push_back(*data::cleanNumber(n));
        std::atomic<std::size_t> next{0};
        std::atomic<int> learned{0};
        const auto start = Clock_::now();
        std::vector<std::thread> clients;
        for (int c = 0; c < kClients; ++c)
            clients.emplace_back([&] {
                for (std::size_t i; (i = next++) < clean.size();)
                    learned += resolver.resolve(clean[i]).tier == data::Tier::Learned;
            });
        for (std::thread& t : clients)
            t.join();
        const double seconds = std::chrono::duration<double>(Clock_::now() - start).count();
        const std::size_t requests = upstream.asked().size();
        std::printf("cold: %d numbers over %d unknown prefixes, 20 ms upstream, --upstream-rate 1000, %d clients\n",
                    kNumbers, kPrefixes, kClients);
        std::printf("  time %.2f s, upstream requests %zu (must be %d) %s, learned answers %d\n", seconds, requests,
                    kPrefixes, requests == std::size_t(kPrefixes) ? "ok" : "MISSED", learned.load());
        std::printf("  bound: 2 in flight x 20 ms -> at least %.1f s for %d requests\n",
                    kPrefixes * 0.020 / data::kMaxUpstreamInFlight, kPrefixes);

        // Warm: the same resolve() the server calls, learned prefixes beside built-in ones.
        std::vector<data::CleanNumber> builtIn;
        for (int i = 0; i < kPrefixes; ++i)
            builtIn.push_back(*data::cleanNumber(std::to_string(1380000 + i) + "1234"));
        auto warm = [&resolver](const std::vector<data::CleanNumber>& set) {
            constexpr int kRounds = 5'000'000;
            for (const auto& n : set)
                resolver.resolve(n); // every prefix seen once
            std::size_t sum = 0;
            const auto t0 = Clock_::now();
            for (int i = 0; i < kRounds; ++i)
                sum += resolver.resolve(set[std::size_t(i) % set.size()]).location.size();
            const double ns = std::chrono::duration<double, std::nano>(Clock_::now() - t0).count() / kRounds;
            return std::pair(ns, sum);
        };
        const auto [learnedNs, s1] = warm(std::vector(clean.begin(), clean.begin() + kPrefixes));
        const auto [builtInNs, s2] = warm(builtIn);
        std::printf("warm: a learned prefix %.1f ns, a built-in prefix %.1f ns per lookup (ratio %.2f)%s\n",
                    learnedNs, builtInNs, learnedNs / builtInNs, s1 + s2 == 0 ? " (no answers?)" : "");
    }
    fs::remove_all(dir);
    return 0;
}
