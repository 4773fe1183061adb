// Learning from an online lookup service: 10,000 numbers over 2,000 prefixes
// no local data knows, against a fake upstream with 20 ms latency and a rate
// of 1,000 requests a second; then the cost of a lookup once learned.
#include "data/fake_upstream.h"

#include "data/upstream_asker.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

using namespace teloria::data;
using teloria::testing::FakeUpstream;
using teloria::testing::Reply;
namespace fs = std::filesystem;
using Clock_ = std::chrono::steady_clock;

int main()
{
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

    UpstreamOptions options;
    options.baseUrl = QString::fromStdString(upstream.baseUrl());
    options.rate = 1000;
    {
        LearnedStore store(dir / "learned.sqlite");
        UpstreamAsker asker(options, &store);
        std::atomic<std::size_t> next{0};
        std::atomic<int> answered{0};
        const auto start = Clock_::now();
        std::vector<std::thread> clients;
        for (int c = 0; c < kClients; ++c)
            clients.emplace_back([&] {
                for (std::size_t i; (i = next++) < numbers.size();)
                    answered += asker.ask(numbers[i].substr(0, 7)).has_value();
            });
        for (std::thread& t : clients)
            t.join();
        const double seconds = std::chrono::duration<double>(Clock_::now() - start).count();
        const std::size_t requests = upstream.asked().size();
        std::printf("cold: %d numbers over %d unknown prefixes, 20 ms upstream, rate 1000/s, %d clients\n",
                    kNumbers, kPrefixes, kClients);
        std::printf("  time %.2f s, upstream requests %zu (must be %d) %s, answered %d\n", seconds, requests,
                    kPrefixes, requests == std::size_t(kPrefixes) ? "ok" : "MISSED", answered.load());
        std::printf("  bound: 2 in flight x 20 ms -> at least %.1f s for %d requests\n",
                    kPrefixes * 0.020 / kMaxUpstreamInFlight, kPrefixes);

        constexpr int kWarm = 2'000'000;
        std::size_t found = 0;
        const auto warmStart = Clock_::now();
        for (int i = 0; i < kWarm; ++i)
            found += asker.ask(numbers[std::size_t(i) % numbers.size()].substr(0, 7)).has_value();
        const double ns = std::chrono::duration<double, std::nano>(Clock_::now() - warmStart).count() / kWarm;
        std::printf("warm: a learned prefix through the asker %.1f ns (%zu found)\n", ns, found);
    }
    fs::remove_all(dir);
    return 0;
}
