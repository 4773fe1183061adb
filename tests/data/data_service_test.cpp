// The data service a program's main owns: shutting it down ends the upstream
// asker at once, whatever the upstream is doing.
#include "data/fake_upstream.h"

#include "data/data_service.h"
#include "data/learning.h"
#include "data/prefix_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace teloria::data {
namespace {

using namespace std::chrono_literals;
using teloria::testing::FakeUpstream;
using teloria::testing::Reply;

// Two prefixes local data give no location for.
std::vector<teloria::data::Prefix7> unknownPrefixes()
{
    const PrefixStore builtIn;
    std::vector<teloria::data::Prefix7> prefixes;
    for (std::uint32_t p = 1990000; prefixes.size() < 2; p += 7)
        if (builtIn.needsUpstream(p))
            prefixes.push_back(*teloria::data::Prefix7::fromInt(p));
    return prefixes;
}

// An upstream that holds both answers: one lookup waits on a thread of its
// own, one waits for a callback. Destroying the service returns at once
// (the time-out is 30 s), both lookups are let go, and nothing is called
// after it has returned, not even when the upstream answers later.
TEST(DataService, DestroyedWithTheUpstreamHoldingItsAnswersReturnsAtOnce)
{
    FakeUpstream upstream([](const std::string&) {
        return Reply{.body = teloria::testing::gbkPage(QStringLiteral("广东深圳"), QStringLiteral("移动")),
                     .gated = true};
    });
    LearnSettings learn;
    learn.upstream = QString::fromStdString(upstream.baseUrl());
    learn.timeout = 30s;
    learn.rate = 1e6;
    learn.noLearn = true;
    auto service = std::make_unique<DataService>(DataSettings{{}, false, "", learn});
    const std::shared_ptr<Learning> learning = service->learning();
    ASSERT_NE(learning, nullptr);
    const auto prefixes = unknownPrefixes();

    std::atomic<int> calls{0};
    std::atomic<bool> returned{false};
    std::atomic<int> callsAfter{0};
    ASSERT_TRUE(learning->askAsync(prefixes[0], [&] {
        ++calls;
        if (returned)
            ++callsAfter;
    }));
    std::thread waiting([learning, p = prefixes[1]] { learning->prepare(p); });
    ASSERT_TRUE(upstream.waitForRequests(2));

    const auto before = std::chrono::steady_clock::now();
    service.reset();
    const auto took = std::chrono::steady_clock::now() - before;
    returned = true;
    waiting.join(); // let go by the shutdown, not by the time-out
    const auto letGo = std::chrono::steady_clock::now() - before;

    EXPECT_LT(took, 500ms) << "the shutdown waited for the upstream";
    EXPECT_LT(letGo, 5s);
    EXPECT_EQ(calls, 1);
    upstream.openGate();
    upstream.stop(); // both held answers are sent, to nobody
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(callsAfter, 0);
    EXPECT_EQ(learning->asker()->stats().learned, 0u);
    std::printf("shutdown with two requests in flight: %.1f ms\n",
                std::chrono::duration<double, std::milli>(took).count());
}

} // namespace
} // namespace teloria::data
