// The upstream asker against a fake online lookup service on loopback.
#include "data/fake_upstream.h"

#include "data/upstream_asker.h"

#include "support/eventually.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <future>
#include <limits>
#include <map>
#include <set>

using namespace teloria::data;
using teloria::testing::eventually;
using teloria::testing::FakeUpstream;
using teloria::testing::Reply;
using teloria::testing::gbkPage;
namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace Qt::Literals::StringLiterals;

namespace {

using TempDir = teloria::testing::TempFolder;

// Time that moves only when the test says so.
class FakeClock final : public Clock {
public:
    static constexpr std::int64_t kStartUnix = 1'750'000'000;
    TimePoint now() const override { return TimePoint{} + std::chrono::nanoseconds(offset_.load()); }
    std::int64_t unixSeconds() const override
    {
        return kStartUnix + offset_.load() / 1'000'000'000;
    }
    void waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, TimePoint deadline) override
    {
        if (now() < deadline)
            cv.wait(lock); // the test's wake() after advance() ends it
    }
    void advance(std::chrono::nanoseconds by) { offset_ += by.count(); }

private:
    std::atomic<std::int64_t> offset_{3'600'000'000'000}; // nanoseconds
};


UpstreamOptions optionsFor(const std::string& base, double rate = 1e6)
{
    UpstreamOptions o;
    o.baseUrl = QString::fromStdString(base);
    o.rate = rate;
    o.timeout = 20s;
    return o;
}

QString placeFor(const std::string& mobile)
{
    return QStringLiteral("测试 ") + QString::fromStdString(mobile.substr(0, 7));
}

Reply answerWithPlace(const std::string& mobile)
{
    return {.body = gbkPage(placeFor(mobile), QStringLiteral("中国移动"))};
}

} // namespace

// 1,000 numbers over 50 prefixes no local data knows: one request per prefix,
// each for the prefix and "0000"; a second run with the upstream gone gives
// the same answers from the database and sends nothing.
TEST(UpstreamAsker, AsksOncePerPrefixAndRemembersOnDisk)
{
    TempDir dir;
    const fs::path file = dir.path / "learned.sqlite";
    std::vector<std::string> numbers;
    for (int i = 0; i < 1000; ++i)
        numbers.push_back(std::to_string(1990000 + (i % 50) * 13) + std::to_string(1000 + i));

    auto runAll = [&](UpstreamAsker& asker) {
        std::vector<std::string> answers(numbers.size());
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t)
            threads.emplace_back([&, t] {
                for (std::size_t i = std::size_t(t); i < numbers.size(); i += 8) {
                    const auto e = asker.ask(numbers[i].substr(0, 7));
                    answers[i] = e ? e->location + "|" + e->cardType : "(none)";
                }
            });
        for (std::thread& t : threads)
            t.join();
        return answers;
    };

    std::vector<std::string> first;
    std::string base;
    {
        FakeUpstream upstream(answerWithPlace);
        base = upstream.baseUrl();
        LearnedStore store(file);
        UpstreamAsker asker(optionsFor(base), &store);
        first = runAll(asker);

        const std::vector<std::string> asked = upstream.asked();
        EXPECT_EQ(asked.size(), 50u);
        std::set<std::string> expected;
        for (const std::string& n : numbers)
            expected.insert(n.substr(0, 7) + "0000");
        EXPECT_EQ(std::set<std::string>(asked.begin(), asked.end()), expected);
        EXPECT_EQ(asker.stats().requests, 50u);
        for (std::size_t i = 0; i < numbers.size(); ++i)
            ASSERT_EQ(first[i], placeFor(numbers[i]).toStdString() + "|中国移动") << numbers[i];
    }

    LearnedStore store(file);
    UpstreamAsker asker(optionsFor(base), &store);
    EXPECT_EQ(runAll(asker), first);
    EXPECT_EQ(asker.stats().requests, 0u);
}

// Ten clients at once: six share one request, and no more than two requests
// are under way.
TEST(UpstreamAsker, SharesOneRequestPerPrefixAndKeepsTwoInFlight)
{
    FakeUpstream upstream([](const std::string& mobile) {
        Reply r = answerWithPlace(mobile);
        r.gated = true;
        return r;
    });
    UpstreamAsker asker(optionsFor(upstream.baseUrl()), nullptr);
    const std::vector<std::string> prefixes = {"1990001", "1990001", "1990002", "1990001", "1990003",
                                               "1990001", "1990004", "1990001", "1990005", "1990001"};
    std::vector<std::future<std::optional<LearnedEntry>>> answers;
    for (const std::string& p : prefixes)
        answers.push_back(std::async(std::launch::async, [&asker, p] { return asker.ask(p); }));

    ASSERT_TRUE(upstream.waitForRequests(2));
    ASSERT_TRUE(eventually([&] { return asker.stats().waiting == prefixes.size(); }));
    EXPECT_EQ(upstream.asked().size(), 2u);
    upstream.openGate();
    for (std::size_t i = 0; i < prefixes.size(); ++i) {
        const auto e = answers[i].get();
        ASSERT_TRUE(e.has_value()) << prefixes[i];
        EXPECT_EQ(e->location, placeFor(prefixes[i]).toStdString());
    }
    const std::vector<std::string> asked = upstream.asked();
    EXPECT_EQ(asked.size(), 5u);
    EXPECT_EQ(std::count(asked.begin(), asked.end(), "19900010000"), 1);
    EXPECT_EQ(upstream.peakInFlight(), 2);
}

TEST(TokenBucket, LetsRateRequestsASecond)
{
    struct Step {
        int atMs;
        bool taken;
        int nextMs; // nextToken() afterwards
    };
    struct Case {
        const char* name;
        double rate;
        double burst;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"two a second", 2, 1, {{0, true, 500}, {0, false, 500}, {499, false, 500}, {500, true, 1000},
                                {1000, true, 1500}, {1200, false, 1500}, {3000, true, 3500}, {3000, false, 3500}}},
        {"a thousand a second", 1000, 1, {{0, true, 1}, {0, false, 1}, {1, true, 2}, {1, false, 2}}},
        {"burst of three", 1, 3, {{0, true, 0}, {0, true, 0}, {0, true, 1000}, {0, false, 1000},
                                  {1000, true, 2000}, {1000, false, 2000}, {10000, true, 10000}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TokenBucket bucket(c.rate, c.burst);
        const Clock::TimePoint start{std::chrono::hours(1)};
        for (const Step& s : c.steps) {
            SCOPED_TRACE(s.atMs);
            EXPECT_EQ(bucket.tryTake(start + std::chrono::milliseconds(s.atMs)), s.taken);
            EXPECT_EQ(bucket.nextToken(), start + std::chrono::milliseconds(s.nextMs));
        }
    }
}

// The asker waits for its tokens on the injected clock: with --upstream-rate
// 2 the second request goes out when the clock has moved half a second.
TEST(UpstreamAsker, RateLimitRunsOnTheInjectedClock)
{
    FakeUpstream upstream(answerWithPlace);
    const auto clock = std::make_shared<FakeClock>();
    UpstreamAsker asker(optionsFor(upstream.baseUrl(), 2), nullptr, clock);
    std::vector<std::future<std::optional<LearnedEntry>>> answers;
    for (const char* p : {"1990001", "1990002", "1990003"})
        answers.push_back(std::async(std::launch::async, [&asker, p] { return asker.ask(p); }));

    ASSERT_TRUE(upstream.waitForRequests(1));
    ASSERT_TRUE(eventually([&] { return asker.stats().learned == 1 && asker.stats().waiting == 2; }));
    clock->advance(499ms);
    asker.wake();
    EXPECT_EQ(upstream.asked().size(), 1u);
    clock->advance(1ms);
    asker.wake();
    ASSERT_TRUE(upstream.waitForRequests(2));
    ASSERT_TRUE(eventually([&] { return asker.stats().learned == 2; }));
    EXPECT_EQ(upstream.asked().size(), 2u);
    clock->advance(500ms);
    asker.wake();
    for (auto& a : answers)
        EXPECT_TRUE(a.get().has_value());
    EXPECT_EQ(upstream.asked().size(), 3u);
}

// Whatever the upstream does wrong, the client gets no answer in bounded
// time, nothing is kept, and the prefix rests for ten minutes.
TEST(UpstreamAsker, BadUpstreamAnswersAreNotKeptAndRest)
{
    const std::string good = gbkPage(QStringLiteral("广东 深圳"), QStringLiteral("中国移动"));
    struct Case {
        const char* name;
        Reply reply;
        bool refused = false;
    };
    const std::vector<Case> cases = {
        {"no markers", {.body = teloria::encodeGbk(u"<html>查询失败，请稍后再试</html>"_qs).toStdString()}},
        {"empty body", {.body = ""}},
        {"unknown", {.body = gbkPage(QStringLiteral("未知"), QStringLiteral("未知"))}},
        {"markup in the location", {.body = gbkPage(QStringLiteral("<a href=\"x\">广东</a>"), QStringLiteral("中国移动"))}},
        {"script in the card type", {.body = gbkPage(QStringLiteral("广东"), QStringLiteral("<script>x()</script>"))}},
        {"one marker inside the other field",
         {.body = teloria::encodeGbk(u"归属地：广东卡类型：中国移动<br/>"_qs).toStdString()}},
        {"server error", {.status = 500, .body = good}},
        {"not found", {.status = 404, .body = good}},
        {"redirect to another host", {.status = 302, .body = good, .location = "/sim_search138.asp?mobile=good"}},
        {"8 MiB body", {.body = good + std::string(8u << 20, ' ')}},
        {"UTF-8 bytes labelled GBK", {.body = (u"归属地：广东<br/>"_qs).toStdString()}},
        {"GBK bytes labelled UTF-8", {.contentType = "text/html; charset=utf-8", .body = good}},
        {"a label that decodes to nothing", {.contentType = "text/html; charset=hz-gb-2312", .body = good}},
        {"slow", {.body = good, .gated = true}},
        {"refused", {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        LearnedStore store(dir.path / "learned.sqlite");
        std::string otherHost; // the same server under another name: "localhost" for "127.0.0.1"
        FakeUpstream upstream([&](const std::string& mobile) {
            if (mobile == "good")
                return Reply{.body = good};
            Reply r = c.reply;
            if (!r.location.empty())
                r.location = otherHost + r.location;
            return r;
        });
        otherHost = "http://localhost:" + upstream.baseUrl().substr(upstream.baseUrl().rfind(':') + 1);
        if (c.refused)
            upstream.stop();
        const auto clock = std::make_shared<FakeClock>();
        UpstreamOptions options = optionsFor(upstream.baseUrl());
        // Only the held reply waits out the time-out; the others are answered
        // well within it even on a loaded machine or under the sanitizers.
        options.timeout = c.reply.gated ? 1s : 10s;
        UpstreamAsker asker(options, &store, clock);

        EXPECT_FALSE(asker.ask("1990001").has_value());
        ASSERT_TRUE(eventually([&] { return asker.stats().failed == 1; }));
        const std::size_t sent = upstream.asked().size();
        EXPECT_EQ(sent, c.refused ? 0u : 1u);
        EXPECT_FALSE(asker.ask("1990001").has_value());
        clock->advance(599s);
        EXPECT_FALSE(asker.ask("1990001").has_value());
        EXPECT_EQ(asker.stats().requests, 1u);
        EXPECT_TRUE(store.loadAll().empty());
        EXPECT_FALSE(asker.known("1990001").has_value());

        clock->advance(1s);
        EXPECT_FALSE(asker.ask("1990001").has_value());
        EXPECT_TRUE(eventually([&] { return asker.stats().failed == 2; }));
        EXPECT_EQ(asker.stats().requests, 2u);
    }
}

TEST(UpstreamAsker, GoodPagesAreCleanedAndKept)
{
    struct Case {
        const char* name;
        Reply reply;
        const char* location;
        const char* cardType;
    };
    const std::vector<Case> cases = {
        {"GBK page", {.body = gbkPage(QStringLiteral("广东 深圳"), QStringLiteral("中国移动"))}, "广东 深圳", "中国移动"},
        {"UTF-8 page", {.contentType = "text/html; charset=utf-8",
                        .body = "<p>\xE5\xBD\x92\xE5\xB1\x9E\xE5\x9C\xB0\xEF\xBC\x9A\xE6\xB5\xB7\xE5\x8D\x97<br/>"}, "海南", ""},
        {"white space around", {.body = gbkPage(QStringLiteral(" \r\n 内蒙古　 锡林郭勒 "), QStringLiteral(" 中国联通 "))},
         "内蒙古 锡林郭勒", "中国联通"},
        {"card type unknown", {.body = gbkPage(QStringLiteral("北京"), QStringLiteral("未知"))}, "北京", ""},
        {"redirect on the same host", {.status = 302, .location = "/sim_search138.asp?mobile=good"}, "广东 深圳", "中国移动"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        LearnedStore store(dir.path / "learned.sqlite");
        FakeUpstream upstream([&](const std::string& mobile) {
            return mobile == "good" ? Reply{.body = gbkPage(QStringLiteral("广东 深圳"), QStringLiteral("中国移动"))}
                                    : c.reply;
        });
        const auto clock = std::make_shared<FakeClock>();
        UpstreamAsker asker(optionsFor(upstream.baseUrl()), &store, clock);
        const auto answer = asker.ask("1740123");
        ASSERT_TRUE(answer.has_value());
        const LearnedEntry expected{"1740123", c.location, c.cardType, "127.0.0.1", clock->unixSeconds()};
        EXPECT_EQ(*answer, expected);
        EXPECT_EQ(store.loadAll(), std::vector<LearnedEntry>{expected});
    }
}

// An answer older than refresh-days is served at once and asked again behind it.
TEST(UpstreamAsker, OldAnswersAreServedWhileAskedAgain)
{
    TempDir dir;
    LearnedStore store(dir.path / "learned.sqlite");
    const auto clock = std::make_shared<FakeClock>();
    const std::int64_t day = 86'400;
    store.upsert({"1990001", "湖北 襄樊", "中国移动", "old.example", clock->unixSeconds() - 181 * day});
    store.upsert({"1990002", "湖北 武汉", "中国移动", "old.example", clock->unixSeconds() - 179 * day});
    FakeUpstream upstream([](const std::string&) {
        return Reply{.body = gbkPage(QStringLiteral("湖北 襄阳"), QStringLiteral("中国移动")), .gated = true};
    });
    UpstreamAsker asker(optionsFor(upstream.baseUrl()), &store, clock);

    EXPECT_EQ(asker.ask("1990002")->location, "湖北 武汉");
    EXPECT_EQ(asker.ask("1990001")->location, "湖北 襄樊");
    ASSERT_TRUE(upstream.waitForRequests(1));
    EXPECT_EQ(asker.ask("1990001")->location, "湖北 襄樊");
    upstream.openGate();
    ASSERT_TRUE(eventually([&] { return asker.stats().learned == 1; }));
    EXPECT_EQ(asker.ask("1990001")->location, "湖北 襄阳");
    EXPECT_EQ(store.loadAll()[0].location, "湖北 襄阳");
    EXPECT_EQ(upstream.asked(), std::vector<std::string>{"19900010000"});
}

TEST(UpstreamAsker, RefusesWhatIsNotAPrefix)
{
    FakeUpstream upstream(answerWithPlace);
    UpstreamAsker asker(optionsFor(upstream.baseUrl()), nullptr);
    for (const char* bad : {"", "199000", "19900011", "0990001", "19900a1", "1990001&x=1"}) {
        EXPECT_FALSE(asker.ask(bad).has_value()) << bad;
        EXPECT_FALSE(asker.askAsync(bad, [] {})) << bad;
    }
    EXPECT_TRUE(upstream.asked().empty());
}

// The non-blocking ask calls back once for every client it makes wait, after
// the answer is kept or refused, and makes none wait when there is nothing to
// wait for: the answer is known, or the prefix is resting after a failure.
TEST(UpstreamAsker, AskAsyncCallsBackOnceForEachWaitingClient)
{
    FakeUpstream upstream([](const std::string& mobile) {
        Reply r = mobile.starts_with("1990009") ? Reply{.status = 500} : answerWithPlace(mobile);
        r.gated = true;
        return r;
    });
    std::map<std::string, std::atomic<int>> calls; // outlives the asker, which may call back as it stops
    UpstreamAsker asker(optionsFor(upstream.baseUrl()), nullptr);
    for (const std::string p : {"1990001", "1990001", "1990009"}) {
        std::atomic<int>& n = calls[p];
        EXPECT_TRUE(asker.askAsync(p, [&n] { ++n; })) << p;
    }
    ASSERT_TRUE(upstream.waitForRequests(2));
    EXPECT_EQ(asker.stats().waiting, 3u);
    EXPECT_EQ(calls["1990001"] + calls["1990009"], 0);
    upstream.openGate();
    ASSERT_TRUE(eventually([&] { return calls["1990001"] == 2 && calls["1990009"] == 1; }));
    EXPECT_TRUE(asker.known("1990001").has_value());
    for (const std::string p : {"1990001", "1990009"})
        EXPECT_FALSE(asker.askAsync(p, [&calls, p] { ++calls[p]; })) << p;
    EXPECT_EQ(asker.stats().waiting, 0u);
    EXPECT_EQ(upstream.asked().size(), 2u);
}

// Waiting clients give up on the injected clock: a silent upstream, the
// clock moved past the time-out, and both the waiting ask() and the
// callback of askAsync() return although no real time has passed.
TEST(UpstreamAsker, WaitsEndOnTheInjectedClock)
{
    FakeUpstream upstream([](const std::string& mobile) {
        Reply r = answerWithPlace(mobile);
        r.gated = true; // answers only when the gate opens, at the end
        return r;
    });
    const auto clock = std::make_shared<FakeClock>();
    UpstreamOptions options = optionsFor(upstream.baseUrl());
    options.timeout = 3600s; // the real clock never gets there during the test
    std::atomic<int> called{0};
    UpstreamAsker asker(options, nullptr, clock);
    ASSERT_TRUE(asker.askAsync("1990002", [&called] { ++called; }));
    ASSERT_TRUE(upstream.waitForRequests(1));
    auto waiting = std::async(std::launch::async, [&asker] { return asker.ask("1990001"); });
    ASSERT_TRUE(eventually([&] { return asker.stats().waiting == 2; }));
    clock->advance(1ms); // the next token
    asker.wake();
    ASSERT_TRUE(upstream.waitForRequests(2));
    ASSERT_TRUE(eventually([&] { return asker.stats().waiting == 2; }));
    EXPECT_EQ(called, 0);
    clock->advance(3600s);
    asker.wake();
    const bool ended = waiting.wait_for(10s) == std::future_status::ready;
    EXPECT_TRUE(ended);
    if (!ended)
        upstream.openGate(); // so that a failing run still ends
    EXPECT_FALSE(waiting.get().has_value());
    EXPECT_TRUE(eventually([&] { return called == 1; }));
    upstream.openGate();
}

// A learned row whose asked_at is anything a file can hold: the far past is
// old and asked again, the far future is fresh; nothing overflows.
TEST(UpstreamAsker, AnyAskedAtIsServedAndJudgedWithoutOverflow)
{
    TempDir dir;
    LearnedStore store(dir.path / "learned.sqlite");
    store.upsert({"1990001", "湖北 襄樊", "中国移动", "old.example", std::numeric_limits<std::int64_t>::min()});
    store.upsert({"1990002", "湖北 武汉", "中国移动", "old.example", std::numeric_limits<std::int64_t>::max()});
    FakeUpstream upstream(answerWithPlace);
    const auto clock = std::make_shared<FakeClock>();
    UpstreamAsker asker(optionsFor(upstream.baseUrl()), &store, clock);
    EXPECT_EQ(asker.ask("1990001")->location, "湖北 襄樊");
    EXPECT_EQ(asker.ask("1990002")->location, "湖北 武汉");
    ASSERT_TRUE(eventually([&] { return asker.stats().learned == 1; }));
    EXPECT_EQ(upstream.asked(), std::vector<std::string>{"19900010000"});
}
