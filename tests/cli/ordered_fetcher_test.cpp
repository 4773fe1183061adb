// The ordered fetcher in-process, with fetch functions the test controls.
#include "cli/ordered_fetcher.h"
#include "cli/terminal_ports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace teloria::cli {
namespace {

QString urlOf(qsizetype i) { return QStringLiteral("http://svc/?mobile=%1").arg(i); }

// Answers are held back until the test releases them, so it decides the order.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    std::set<QString> released;
    std::set<QString> started;
    int sessions = 0;
    int finished = 0;
    // Per session, in order: how many requests had finished when each of its requests began.
    std::map<int, std::vector<int>> finishedAtStart;

    FetchFunctionFactory factory()
    {
        return [this] {
            int session = 0;
            { std::lock_guard l(mutex); session = sessions++; }
            return FetchFunction([this, session](const QString& url) {
                std::unique_lock l(mutex);
                started.insert(url);
                finishedAtStart[session].push_back(finished);
                changed.notify_all();
                changed.wait(l, [&] { return released.count(url) > 0; });
                ++finished;
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
    void waitStarted(std::size_t n)
    {
        std::unique_lock l(mutex);
        changed.wait(l, [&] { return started.size() >= n; });
    }
    std::size_t startedCount() { std::lock_guard l(mutex); return started.size(); }
};

TEST(OrderedFetcher, HandsPagesOutInOrderWhateverOrderTheyArrive)
{
    Gate gate; // nothing answers until released
    constexpr int count = 8;
    OrderedFetcher fetcher(count, urlOf, 3, gate.factory(), count);
    gate.waitStarted(1);
    gate.release(urlOf(0)); // the first connection is up: a second worker may start
    gate.waitStarted(3);    // 1 and 2 are in flight at once
    // Every later answer arrives before every earlier one.
    for (int i = count - 1; i >= 1; --i)
        gate.release(urlOf(i));
    for (int i = 0; i < count; ++i) {
        const QString page = fetcher.fetch(urlOf(i));
        EXPECT_EQ(page, i == 3 ? QString() : QStringLiteral("page ") + urlOf(i));
    }
    EXPECT_EQ(fetcher.failedRequests(), 1);
    EXPECT_GE(fetcher.peakInFlight(), 2);
    EXPECT_LE(fetcher.peakInFlight(), 3);
    EXPECT_EQ(gate.sessions, 3);
}

TEST(OrderedFetcher, WorkersMakeTheirFirstRequestsOneAfterTheOther)
{
    Gate gate;
    for (int i = 0; i < 8; ++i)
        gate.release(urlOf(i));
    std::vector<int> firstStarts; // finished requests when each worker made its first
    {
        OrderedFetcher fetcher(8, urlOf, 4, gate.factory(), 8);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(fetcher.fetch(urlOf(i)), i == 3 ? QString() : QStringLiteral("page ") + urlOf(i));
    } // every worker has stopped
    for (const auto& [session, counts] : gate.finishedAtStart)
        if (!counts.empty())
            firstStarts.push_back(counts.front());
    std::sort(firstStarts.begin(), firstStarts.end());
    // The k-th worker to start waited for the first requests of the k before it.
    for (std::size_t k = 0; k < firstStarts.size(); ++k)
        EXPECT_GE(firstStarts[k], int(k)) << "worker " << k;
}

TEST(OrderedFetcher, RunsNoFurtherAheadThanItsWindow)
{
    Gate gate;
    for (int i = 0; i < 20; ++i)
        gate.release(urlOf(i));
    OrderedFetcher fetcher(20, urlOf, 2, gate.factory(), 4);
    gate.waitStarted(4);
    // Four answers wait for the reader; nothing more is asked until it takes one.
    EXPECT_EQ(fetcher.fetch(urlOf(0)), QStringLiteral("page ") + urlOf(0));
    gate.waitStarted(5);
    EXPECT_LE(gate.startedCount(), 5u);
}

TEST(OrderedFetcher, FetchesAnUnexpectedUrlOnTheSpot)
{
    Gate gate;
    gate.release(QStringLiteral("http://other/"));
    gate.release(urlOf(0));
    OrderedFetcher fetcher(1, urlOf, 1, gate.factory());
    EXPECT_EQ(fetcher.fetch(QStringLiteral("http://other/")), QStringLiteral("page http://other/"));
    EXPECT_EQ(fetcher.fetch(urlOf(0)), QStringLiteral("page ") + urlOf(0));
}

TEST(OrderedFetcher, OneJobRequestsOnTheCallersThreadAndOnlyWhenAsked)
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
    OrderedFetcher fetcher(3, urlOf, 1, factory);
    EXPECT_TRUE(callers.empty()); // nothing is fetched ahead
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(fetcher.fetch(urlOf(i)), urlOf(i));
    EXPECT_EQ(callers, std::vector<std::thread::id>(3, std::this_thread::get_id()));
    EXPECT_EQ(fetcher.peakInFlight(), 1);
}

TEST(OrderedFetcher, StopsCleanlyWhenTheReaderLeavesEarly)
{
    Gate gate;
    for (int i = 0; i < 100; ++i)
        gate.release(urlOf(i));
    {
        OrderedFetcher fetcher(100, urlOf, 4, gate.factory());
        EXPECT_FALSE(fetcher.fetch(urlOf(0)).isEmpty());
    } // the destructor must not wait for the 99 others
    EXPECT_LT(gate.startedCount(), 100u);
}

struct BarCase {
    int done, total;
    double seconds;
    const char* text;
};

class BatchProgressLine : public ::testing::TestWithParam<BarCase> {};

TEST_P(BatchProgressLine, ShowsCountRateAndTimeLeft)
{
    const BarCase& c = GetParam();
    EXPECT_EQ(ProgressBar::line(c.done, c.total, c.seconds, 10).toStdString(), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    States, BatchProgressLine,
    ::testing::Values(BarCase{0, 10, 0.0, "[..........] 0/10  0/s  --:-- left"},
                      BarCase{5, 10, 1.0, "[#####.....] 5/10  5/s  0:01 left"},
                      BarCase{100, 10'000, 0.5, "[..........] 100/10000  200/s  0:50 left"},
                      BarCase{1'000, 100'000, 1.0, "[..........] 1000/100000  1000/s  1:39 left"},
                      BarCase{10, 10, 2.0, "[##########] 10/10  5/s  0:00 left"}));

} // namespace
} // namespace teloria::cli
