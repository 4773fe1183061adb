// The ordered fetcher in-process, with fetch functions the test controls.
#include "cli/ordered_fetcher.h"
#include "cli/row_format.h"
#include "cli/terminal_ports.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace teloria::cli {
namespace {

QString urlOf(qsizetype i) { return QStringLiteral("http://svc/?mobile=%1").arg(i); }

QStringList urls(qsizetype from, qsizetype to)
{
    QStringList list;
    for (qsizetype i = from; i < to; ++i)
        list.append(urlOf(i));
    return list;
}

// Answers are held back until the test releases them, so it decides the order.
// URLs ending in 3 fail.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    std::set<QString> released;
    std::set<QString> started;
    bool all = false;

    FetchFunctionFactory factory()
    {
        return [this] {
            return FetchFunction([this](const QString& url) {
                std::unique_lock l(mutex);
                started.insert(url);
                changed.notify_all();
                changed.wait(l, [&] { return all || released.count(url) > 0; });
                const bool fail = url.endsWith(u'3');
                FetchResult result;
                result.ok = !fail;
                result.status = fail ? 0 : 200;
                if (!fail)
                    result.text = QStringLiteral("page ") + url;
                return result;
            });
        };
    }
    void release(const QString& url)
    {
        std::lock_guard l(mutex);
        released.insert(url);
        changed.notify_all();
    }
    void releaseAll()
    {
        std::lock_guard l(mutex);
        all = true;
        changed.notify_all();
    }
    // False when fewer than n requests were started within a generous bound.
    bool waitStarted(std::size_t n)
    {
        std::unique_lock l(mutex);
        return changed.wait_for(l, std::chrono::seconds(20), [&] { return started.size() >= n; });
    }
    std::size_t startedCount() { std::lock_guard l(mutex); return started.size(); }
};

QString pageOf(const std::optional<FetchResult>& r) { return r ? r->text : QStringLiteral("<not asked>"); }

TEST(OrderedFetcher, KeepsInputOrderWhateverOrderTheAnswersArriveIn)
{
    Gate gate;
    OrderedFetcher fetcher(3, gate.factory());
    std::vector<std::optional<FetchResult>> results;
    std::thread reader([&] { results = fetcher.fetchAll(urls(0, 8)); });
    ASSERT_TRUE(gate.waitStarted(3));
    for (int i = 7; i >= 0; --i) // every later answer is released before every earlier one
        gate.release(urlOf(i));
    reader.join();
    ASSERT_EQ(results.size(), 8u);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(pageOf(results[i]), i == 3 ? QString() : QStringLiteral("page ") + urlOf(i));
    EXPECT_EQ(fetcher.peakInFlight(), 3);
}

// A service that never answers costs one time-out per `jobs` requests: every
// worker asks at once, none waits for another's first answer.
TEST(OrderedFetcher, EveryWorkerAsksAtOnce)
{
    Gate gate; // nothing answers until released
    OrderedFetcher fetcher(8, gate.factory());
    std::thread reader([&] { fetcher.fetchAll(urls(0, 8)); });
    EXPECT_TRUE(gate.waitStarted(8)) << "only " << gate.startedCount() << " requests in flight";
    gate.releaseAll();
    reader.join();
    EXPECT_EQ(fetcher.peakInFlight(), 8);
}

TEST(OrderedFetcher, StopsAskingWhenToldAndLeavesTheRestUnasked)
{
    for (const int jobs : {1, 4}) {
        Gate gate;
        gate.releaseAll();
        int failedInARow = 0;
        OrderedFetcher fetcher(jobs, gate.factory(), [&](const FetchResult& r) {
            failedInARow = r.ok ? 0 : failedInARow + 1;
            return failedInARow < 1;
        });
        const auto first = fetcher.fetchAll(urls(0, 40)); // 3 fails
        EXPECT_EQ(pageOf(first[0]), QStringLiteral("page ") + urlOf(0));
        EXPECT_TRUE(first[3].has_value());
        EXPECT_FALSE(first[39].has_value()) << jobs << " jobs";
        const auto later = fetcher.fetchAll(urls(40, 42)); // given up for good
        EXPECT_FALSE(later[0].has_value());
        EXPECT_FALSE(later[1].has_value());
    }
}

TEST(OrderedFetcher, OneJobRequestsOnTheCallersThread)
{
    std::vector<std::thread::id> callers;
    FetchFunctionFactory factory = [&callers] {
        return FetchFunction([&callers](const QString& url) {
            callers.push_back(std::this_thread::get_id());
            FetchResult result;
            result.ok = true;
            result.text = url;
            return result;
        });
    };
    OrderedFetcher fetcher(1, factory);
    const auto results = fetcher.fetchAll(urls(0, 3));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(pageOf(results[i]), urlOf(i));
    EXPECT_EQ(callers, std::vector<std::thread::id>(3, std::this_thread::get_id()));
}

// Many workers over tiny blocks, thousands of times: every block must come
// back whole, however the wake-ups fall.
TEST(OrderedFetcher, NeverLosesAWakeUpWithManyJobsAndTinyBlocks)
{
    const FetchFunctionFactory instant = [] {
        return FetchFunction([](const QString& url) {
            FetchResult result;
            result.ok = true;
            result.text = url;
            return result;
        });
    };
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread runner([&] {
        for (int round = 0; round < 60; ++round) {
            OrderedFetcher fetcher(2 + round % 63, instant);
            for (int block = 0; block < 50; ++block) {
                const auto results = fetcher.fetchAll(urls(0, block % 9));
                for (int i = 0; i < block % 9; ++i)
                    ASSERT_EQ(pageOf(results[i]), urlOf(i)) << "round " << round;
            }
        }
        std::lock_guard lock(mutex);
        done = true;
        finished.notify_all();
    });
    std::unique_lock lock(mutex);
    if (!finished.wait_for(lock, std::chrono::seconds(60), [&] { return done; })) {
        ADD_FAILURE() << "the fetcher hung: a wake-up was lost";
        std::fflush(nullptr);
        std::abort(); // the runner cannot be joined
    }
    lock.unlock();
    runner.join();
}

struct BarCase {
    long long done;
    double fraction, seconds;
    const char* text;
};

class BatchProgressLine : public ::testing::TestWithParam<BarCase> {};

TEST_P(BatchProgressLine, ShowsCountRateAndTimeLeft)
{
    const BarCase& c = GetParam();
    EXPECT_EQ(ProgressBar::line(c.done, c.fraction, c.seconds, 10).toStdString(), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    States, BatchProgressLine,
    ::testing::Values(BarCase{0, 0.0, 0.0, "[..........] 0 numbers  0/s  --:-- left"},
                      BarCase{5, 0.5, 1.0, "[#####.....] 5 numbers  5/s  0:01 left"},
                      BarCase{1'000, 0.01, 1.0, "[..........] 1000 numbers  1000/s  1:39 left"},
                      BarCase{10, 1.0, 2.0, "[##########] 10 numbers  5/s  0:00 left"},
                      BarCase{1, -1.0, 2.0, "1 number  1/s"}));

} // namespace
} // namespace teloria::cli
