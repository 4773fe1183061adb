// teloria-data learn's walk on the fake upstream, on a clock the test owns:
// every prefix asked once over stopped and resumed sittings, at the rate.
#include "data/learn_walk.h"

#include "cli/data_command.h"
#include "data/data_files.h"
#include "data/fake_upstream.h"
#include "data/prefix_store.h"
#include "service/service_test_support.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

namespace teloria::data {
namespace {

using namespace std::chrono_literals;

// Time that passes only when someone waits for the rate: a wait until a near
// deadline moves the clock there at once, so a walk at 50 requests a second
// takes no real time and its seconds are exact.
class VirtualClock final : public Clock {
public:
    TimePoint now() const override { return TimePoint{} + std::chrono::nanoseconds(offset_.load()); }
    std::int64_t unixSeconds() const override { return 1'750'000'000 + offset_.load() / 1'000'000'000; }
    // A near deadline (the rate's next token) is reached at once; a far one (a
    // waiter's time-out) is waited for on the condition, briefly, so that an
    // answer on its way is not given up on.
    void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, TimePoint deadline) override
    {
        if (deadline - now() > std::chrono::seconds(1)) {
            cv.wait_for(lock, std::chrono::milliseconds(20));
            return;
        }
        std::int64_t target = (deadline - TimePoint{}).count();
        std::int64_t seen = offset_.load();
        while (seen < target && !offset_.compare_exchange_weak(seen, target)) {
        }
    }

private:
    std::atomic<std::int64_t> offset_{3'600'000'000'000};
};

TEST(LearnSegments, ReadsListsAndRanges)
{
    std::string why;
    const auto ranges = parseSegments("190-199,162", &why);
    ASSERT_TRUE(ranges) << why;
    EXPECT_EQ(walkName(*ranges), "162,190-199");
    EXPECT_EQ(walkName({}), "all");
    for (const char* bad : {"", "19", "199-190", "129", "200", "190-", "abc", "190,,191"})
        EXPECT_FALSE(parseSegments(bad, &why)) << bad;
}

TEST(LearnWalk, AsksEveryPrefixOnceAcrossStoppedAndResumedSittings)
{
    testing::TempFolder folder;
    // Segment 190 has no locations built in; a table gives 1900-1907 theirs, so 2,000 prefixes are left.
    const std::string table = (folder.path / "known.tsv").string();
    std::string lines;
    for (int p = 1900; p <= 1907; ++p)
        lines += std::to_string(p) + "\t四川\t成都\t中国电信\n";
    service::testing::writeFile(table, lines);
    DataSettings settings{{table}, false, {}};
    settings.learn.noLearn = true;
    const LoadedStore local = loadStore(settings);
    const std::vector<SegmentRange> segments{{190, 190}};
    ASSERT_EQ(walkPrefixes(*local.store, segments).size(), 2000u);

    testing::FakeUpstream upstream([](const std::string&) {
        return testing::Reply{.body = testing::gbkPage(QStringLiteral("四川 成都"), QStringLiteral("中国电信"))};
    });
    WalkOptions options;
    options.learn.upstream = QString::fromStdString(upstream.baseUrl());
    options.learn.rate = 50;
    options.learn.learnedFile = folder.path / "learned.sqlite";
    options.segments = segments;
    const auto clock = std::make_shared<VirtualClock>();
    std::atomic<bool> stop{false};
    std::string why;

    // The first sitting stops at --max 700.
    options.max = 700;
    const auto first = runLearnWalk(options, *local.store, clock, {}, stop, &why);
    ASSERT_TRUE(first) << why;
    EXPECT_EQ(first->sitting, 700u);
    EXPECT_EQ(first->done, 700u);
    EXPECT_EQ(first->total, 2000u);
    EXPECT_FALSE(first->finished);
    EXPECT_EQ(upstream.asked().size(), 700u);
    // 700 requests at 50 a second, one token at hand: 699 waits of 20 ms on the walk's clock.
    EXPECT_NEAR(first->seconds, 699 / 50.0, 0.05);

    // The second is stopped as Ctrl-C does, from outside, once 1,500 are done.
    options.max = 0;
    std::size_t calls = 0;
    const auto second = runLearnWalk(
        options, *local.store, clock,
        [&](const WalkStatus& s) {
            ++calls;
            if (s.done >= 1500)
                stop = true;
        },
        stop, &why);
    ASSERT_TRUE(second) << why;
    EXPECT_GE(second->done, 1500u);
    EXPECT_LE(second->done, 1502u); // what was in flight is waited for, and counted
    EXPECT_GT(calls, 0u);

    // The third goes on from there to the end.
    stop = false;
    const auto third = runLearnWalk(options, *local.store, clock, {}, stop, &why);
    ASSERT_TRUE(third) << why;
    EXPECT_TRUE(third->finished);
    EXPECT_EQ(third->done, 2000u);

    // Exactly 2,000 requests in all, one per prefix, each the prefix and 0000 only.
    const std::vector<std::string> asked = upstream.asked();
    EXPECT_EQ(asked.size(), 2000u);
    const std::set<std::string> distinct(asked.begin(), asked.end());
    EXPECT_EQ(distinct.size(), 2000u);
    for (const std::string& mobile : asked)
        EXPECT_TRUE(mobile.size() == 11 && mobile.starts_with("190") && mobile.ends_with("0000")) << mobile;
    EXPECT_LE(upstream.peakInFlight(), kMaxUpstreamInFlight);

    // A finished walk asks nothing more; the programs now answer from what it learned.
    const auto fourth = runLearnWalk(options, *local.store, clock, {}, stop, &why);
    ASSERT_TRUE(fourth) << why;
    EXPECT_EQ(fourth->sitting, 0u);
    EXPECT_EQ(upstream.asked().size(), 2000u);
    DataSettings withLearned{{table}, false, {}};
    withLearned.learn.learnedFile = options.learn.learnedFile;
    EXPECT_EQ(loadStore(withLearned).store->mobile(1909999).location, "四川 成都");
}

// An upstream that cannot be reached: the walk stops after a few requests and keeps its place.
TEST(LearnWalk, KeepsItsPlaceWhenTheUpstreamAnswersNothing)
{
    testing::TempFolder folder;
    const std::string table = (folder.path / "known.tsv").string();
    service::testing::writeFile(table, "1900\t四川\t成都\t中国电信\n1901\t四川\t成都\t中国电信\n");
    DataSettings settings{{table}, false, {}};
    settings.learn.noLearn = true;
    const LoadedStore local = loadStore(settings);
    WalkOptions options;
    options.learn.rate = 1000;
    options.learn.learnedFile = folder.path / "learned.sqlite";
    options.segments = {{190, 190}};
    const auto clock = std::make_shared<VirtualClock>();
    std::atomic<bool> stop{false};
    std::string why;
    {
        const testing::RefusingPort dead;
        options.learn.upstream = QString::fromStdString(dead.baseUrl());
        const auto down = runLearnWalk(options, *local.store, clock, {}, stop, &why);
        ASSERT_TRUE(down) << why;
        EXPECT_TRUE(down->upstreamFailed);
        EXPECT_LT(down->sitting, 1000u) << "stopped early, after the first ten failures and those in flight";
        EXPECT_EQ(down->done, 0u);
    }
    testing::FakeUpstream upstream([](const std::string&) {
        return testing::Reply{.body = testing::gbkPage(QStringLiteral("四川 成都"), QStringLiteral("中国电信"))};
    });
    options.learn.upstream = QString::fromStdString(upstream.baseUrl());
    options.max = 5;
    const auto up = runLearnWalk(options, *local.store, clock, {}, stop, &why);
    ASSERT_TRUE(up) << why;
    EXPECT_FALSE(up->upstreamFailed);
    std::vector<std::string> asked = upstream.asked(); // two in flight: in either order
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked, (std::vector<std::string>{"19020000000", "19020010000", "19020020000", "19020030000",
                                               "19020040000"}));
}

struct LearnUsageCase {
    std::vector<std::string> args;
    const char* message;
};

TEST(LearnCommand, RefusesBadOptionsWithExitTwo)
{
    const std::vector<LearnUsageCase> cases = {
        {{"learn"}, "learn needs --upstream URL"},
        {{"learn", "--upstream", "http://127.0.0.1:1", "--segments", "19"}, "--segments"},
        {{"learn", "--upstream", "http://127.0.0.1:1", "--rate", "0"}, "--rate"},
        {{"learn", "--upstream", "http://127.0.0.1:1", "--max", "-3"}, "--max"},
        {{"learn", "--upstream", "ftp://127.0.0.1:1"}, "ftp"},
        {{"learn", "--frob"}, "--frob"},
    };
    const QByteArray saved = qgetenv(kUpstreamEnvironment);
    qunsetenv(kUpstreamEnvironment);
    for (const LearnUsageCase& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "teloria-data");
        std::ostringstream out, err;
        EXPECT_EQ(cli::runDataCommand(args, out, err), 2) << c.message;
        EXPECT_NE(err.str().find(c.message), std::string::npos) << err.str();
    }
    if (!saved.isNull())
        qputenv(kUpstreamEnvironment, saved);
}

} // namespace
} // namespace teloria::data
