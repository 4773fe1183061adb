// The ordered fetcher against a loopback server whose answers the test
// holds back and releases, so that it decides the order they arrive in.
#include "net/ordered_fetcher.h"

#include "support/test_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace teloria {
namespace {

// /r?i=N waits until the test releases N (or everything), then answers
// "page N"; numbers ending in 3 answer 503 with no body.
class GateServer {
public:
    GateServer()
        : server_([this](httplib::Server& s) {
              // Every request of a test may come on one connection.
              s.set_keep_alive_max_count(1000);
              s.Get("/r", [this](const httplib::Request& req, httplib::Response& res) { answer(req, res); });
          })
    {
    }
    ~GateServer() { releaseAll(); } // lets held handlers end before the server stops

    QString urlOf(qsizetype i) const { return QString::fromStdString(server_.url("/r?i=" + std::to_string(i))); }
    QStringList urls(qsizetype from, qsizetype to) const
    {
        QStringList list;
        for (qsizetype i = from; i < to; ++i)
            list.append(urlOf(i));
        return list;
    }
    static QString pageText(qsizetype i) { return QStringLiteral("page %1").arg(i); }

    void release(qsizetype i)
    {
        std::lock_guard l(mutex_);
        released_.insert(std::to_string(i));
        changed_.notify_all();
    }
    void releaseAll()
    {
        std::lock_guard l(mutex_);
        all_ = true;
        changed_.notify_all();
    }
    // False when fewer than n requests were held at once within a generous bound.
    bool waitHeld(std::size_t n)
    {
        std::unique_lock l(mutex_);
        return changed_.wait_for(l, std::chrono::seconds(20), [&] { return held_ >= n; });
    }
    std::size_t asked() const { return server_.requests().size(); }
    // How many connections the requests came on.
    std::size_t connections() const
    {
        std::set<int> ports;
        for (const auto& r : server_.requests())
            ports.insert(r.remotePort);
        return ports.size();
    }

private:
    void answer(const httplib::Request& req, httplib::Response& res)
    {
        const std::string i = req.get_param_value("i");
        {
            std::unique_lock l(mutex_);
            ++held_;
            changed_.notify_all();
            // Bounded, so that a lost request fails the test rather than hanging it.
            changed_.wait_for(l, std::chrono::seconds(60), [&] { return all_ || released_.count(i) > 0; });
            --held_;
        }
        if (i.ends_with('3')) {
            res.status = 503;
            return;
        }
        res.set_content("page " + i, "text/plain; charset=utf-8");
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::set<std::string> released_;
    bool all_ = false;
    std::size_t held_ = 0;
    teloria::testing::TestServer server_; // last: it stops before the members its handlers use go
};

QString pageOf(const std::optional<FetchResult>& r) { return r ? r->text : QStringLiteral("<not asked>"); }
bool answered(const FetchResult& r) { return r.ok && r.status == 200; }

TEST(OrderedFetcher, KeepsInputOrderWhateverOrderTheAnswersArriveIn)
{
    for (const int lanes : {1, 3}) { // one thread, or a thread per job
        GateServer server;
        OrderedFetcher fetcher(3, FetchOptions{}, {}, lanes);
        std::vector<std::optional<FetchResult>> results;
        std::thread reader([&] { results = fetcher.fetchAll(server.urls(0, 8)); });
        ASSERT_TRUE(server.waitHeld(3));
        for (int i = 7; i >= 0; --i) // every later answer is released before every earlier one
            server.release(i);
        reader.join();
        ASSERT_EQ(results.size(), 8u);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(pageOf(results[i]), i == 3 ? QString() : GateServer::pageText(i)) << lanes << " lanes";
        EXPECT_EQ(results[3]->status, 503);
        EXPECT_EQ(fetcher.peakInFlight(), 3);
    }
}

// A service that never answers costs one time-out per `jobs` requests: every
// job asks at once, each on a connection of its own, none waits for another's
// first answer.
TEST(OrderedFetcher, EveryJobAsksAtOnce)
{
    for (const auto& [jobs, lanes] : {std::pair{8, 1}, {64, 4}, {64, 0}}) { // 0: as many lanes as the machine takes
        GateServer server; // nothing answers until released
        OrderedFetcher fetcher(jobs, FetchOptions{}, {}, lanes);
        std::thread reader([&] { fetcher.fetchAll(server.urls(0, jobs)); });
        EXPECT_TRUE(server.waitHeld(std::size_t(jobs))) << "only " << server.asked() << " requests in flight";
        server.releaseAll();
        reader.join();
        EXPECT_EQ(fetcher.peakInFlight(), jobs);
        EXPECT_EQ(server.connections(), std::size_t(jobs));
    }
}

TEST(OrderedFetcher, StopsAskingWhenToldAndLeavesTheRestUnasked)
{
    for (const auto& [jobs, lanes] : {std::pair{1, 1}, {4, 1}, {4, 2}}) {
        GateServer server;
        server.releaseAll();
        int failedInARow = 0;
        OrderedFetcher fetcher(jobs, FetchOptions{}, [&](const FetchResult& r) {
            failedInARow = answered(r) ? 0 : failedInARow + 1;
            return failedInARow < 1;
        }, lanes);
        const auto first = fetcher.fetchAll(server.urls(0, 40)); // 3 fails, and 23 in the second lane
        EXPECT_EQ(pageOf(first[0]), GateServer::pageText(0));
        if (lanes == 1) {
            EXPECT_TRUE(first[3].has_value());
        }
        EXPECT_FALSE(first[19].has_value()) << jobs << " jobs";
        EXPECT_FALSE(first[39].has_value()) << jobs << " jobs";
        const auto later = fetcher.fetchAll(server.urls(40, 42)); // given up for good
        EXPECT_FALSE(later[0].has_value());
        EXPECT_FALSE(later[1].has_value());
        // Only what was answered was asked.
        EXPECT_EQ(server.asked(), std::size_t(std::count_if(first.begin(), first.end(),
                                                            [](const auto& r) { return r.has_value(); })))
            << jobs << " jobs";
    }
}

// Later blocks reuse the connections of earlier ones; one job asks one
// number at a time, in input order; two are the window's run.
TEST(OrderedFetcher, KeepsItsConnectionsAcrossBlocks)
{
    for (const int jobs : {1, 2, 3}) {
        GateServer server;
        server.releaseAll();
        OrderedFetcher fetcher(jobs, FetchOptions{});
        for (int block = 0; block < 4; ++block) {
            const auto results = fetcher.fetchAll(server.urls(block * 10, block * 10 + 5));
            for (int i = 0; i < 5; ++i)
                ASSERT_TRUE(results[i].has_value());
        }
        EXPECT_EQ(server.asked(), 20u);
        EXPECT_EQ(server.connections(), std::size_t(jobs)) << jobs << " jobs";
        EXPECT_EQ(fetcher.peakInFlight(), jobs);
    }
}

// Many jobs over tiny blocks, many times: every block must come back whole,
// and the fetcher must never wait for an answer that is not coming.
TEST(OrderedFetcher, NeverHangsWithManyJobsAndTinyBlocks)
{
    GateServer server;
    server.releaseAll();
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread runner([&] {
        for (int round = 0; round < 12; ++round) {
            OrderedFetcher fetcher(2 + (round * 11) % 63, FetchOptions{});
            for (int block = 0; block < 30; ++block) {
                const auto results = fetcher.fetchAll(server.urls(0, block % 9));
                for (int i = 0; i < block % 9; ++i)
                    ASSERT_EQ(pageOf(results[i]), i == 3 ? QString() : GateServer::pageText(i)) << "round " << round;
            }
        }
        std::lock_guard lock(mutex);
        done = true;
        finished.notify_all();
    });
    std::unique_lock lock(mutex);
    if (!finished.wait_for(lock, std::chrono::seconds(60), [&] { return done; })) {
        ADD_FAILURE() << "the fetcher hung";
        std::fflush(nullptr);
        std::abort(); // the runner cannot be joined
    }
    lock.unlock();
    runner.join();
}

} // namespace
} // namespace teloria
