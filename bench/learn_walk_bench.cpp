// teloria-data learn's walk over 2,000 prefixes on the fake upstream at a
// high rate: requests a second and the exact request count, beside a plain
// loop of the same 2,000 GETs one after the other (the reference).
#include "data/data_files.h"
#include "data/learn_walk.h"
#include "data/fake_upstream.h"
#include "net/page_fetch.h"
#include "support/temp_folder.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <fstream>

using namespace teloria;

int main()
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    testing::TempFolder folder;
    const std::string table = (folder.path / "known.tsv").string();
    {
        std::ofstream out(table);
        for (int p = 1900; p <= 1907; ++p)
            out << p << "\t四川\t成都\t中国电信\n";
    }
    data::DataSettings settings{{table}, false, {}};
    settings.learn.noLearn = true;
    const data::LoadedStore local = data::loadStore(settings);

    testing::FakeUpstream upstream([](const std::string&) {
        return testing::Reply{.body = testing::gbkPage(QStringLiteral("四川 成都"), QStringLiteral("中国电信"))};
    });
    const QString base = QString::fromStdString(upstream.baseUrl());

    // The reference: the same number of GETs, one after the other, no rate limit, nothing kept.
    constexpr int kPrefixes = 2000;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kPrefixes; ++i) // a fresh handle each, as the asker's requests
        fetchPage(base + QStringLiteral("/sim_search138.asp?mobile=1") + QString::number(999'0000 + i));
    const double loopSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::size_t loopRequests = upstream.asked().size();

    data::WalkOptions options;
    options.learn.upstream = base;
    options.learn.rate = 1000;
    options.learn.learnedFile = folder.path / "learned.sqlite";
    options.segments = {{190, 190}};
    std::atomic<bool> stop{false};
    std::string why;
    start = std::chrono::steady_clock::now();
    const auto status = data::runLearnWalk(options, *local.store, data::Clock::system(), {}, stop, &why);
    const double walkSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!status) {
        std::fprintf(stderr, "learn walk failed: %s\n", why.c_str());
        return 1;
    }
    const std::size_t walkRequests = upstream.asked().size() - loopRequests;
    std::printf("%-52s %8.3f s %9.0f requests/s %6zu requests\n", "plain GET loop, one after the other (reference)", loopSeconds,
                loopRequests / loopSeconds, loopRequests);
    std::printf("%-52s %8.3f s %9.0f requests/s %6zu requests (%zu prefixes, %s)\n",
                "teloria-data learn walk, --rate 1000, 2 in flight", walkSeconds, walkRequests / walkSeconds,
                walkRequests, status->total, walkRequests == kPrefixes ? "exact" : "NOT EXACT");
    std::printf("%-52s %8.2f x the reference time (the rate allows at most 1000/s)\n", "walk / reference",
                walkSeconds / loopSeconds);
    curl_global_cleanup();
    return walkRequests == kPrefixes ? 0 : 1;
}
