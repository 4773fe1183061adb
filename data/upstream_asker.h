#pragma once
// Asks an online lookup service (the window's lookup API: GET
// /sim_search138.asp?mobile=N, a page with "归属地：…<br/>" and
// "卡类型：…<br/>") about 7-digit prefixes that local data does not know.
//
// Privacy: the service is only ever sent the prefix followed by "0000".
// Politeness: at most `rate` requests a second (a token bucket), at most two
// in flight; a failed or marker-less answer is not kept and its prefix is not
// asked again for ten minutes. Concurrent asks for one prefix share one
// request. Answers are kept in memory and, given a store, on disk.

#include "data/clock.h"
#include "data/learned_store.h"
#include "net/page_fetch.h"
#include "data/token_bucket.h"

#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace teloria::data {

struct UpstreamOptions {
    QString baseUrl;                               // checked by parseServiceBase
    std::chrono::milliseconds timeout{10'000};     // one request, and how long an asking client waits
    double rate = 2.0;                             // requests a second
    std::chrono::seconds retryAfterFailure{600};   // a prefix whose answer failed rests this long
    int refreshDays = 180;                         // older answers are asked again when used
    std::size_t maxQueued = 10'000;                // prefixes waiting for their turn; beyond, not asked
    std::size_t maxBodyBytes = 256u << 10;         // a larger page is a failed answer
};

inline constexpr int kMaxUpstreamInFlight = 2;

class UpstreamAsker {
public:
    // Turns a cleaned upstream answer into the store's spelling; nothing
    // refuses it. The default keeps it as it is.
    using Normaliser = std::function<std::optional<LearnedEntry>(LearnedEntry)>;
    // Told of every answer learned (on a worker thread).
    using LearnedHook = std::function<void(const LearnedEntry&)>;

    // store may be null (nothing written to disk); otherwise its rows are
    // known from the start and new answers are written to it.
    UpstreamAsker(UpstreamOptions options, LearnedStore* store, std::shared_ptr<Clock> clock = Clock::system(),
                  Normaliser normalise = {}, LearnedHook onLearned = {});
    ~UpstreamAsker(); // stop()
    // Stops asking: requests under way are aborted, clients still waiting
    // (with or without a thread) get no answer at once, and the asker's
    // threads have ended when it returns, so no callback runs afterwards.
    // Later asks answer nothing. Idempotent, and safe from any thread but
    // the asker's own (a callback).
    void stop();
    UpstreamAsker(const UpstreamAsker&) = delete;
    UpstreamAsker& operator=(const UpstreamAsker&) = delete;

    // The answer for a 7-digit prefix: a learned one at once (asking again in
    // the background when it is older than refreshDays); otherwise the
    // upstream's, waiting for it up to the time-out. Nothing when the
    // upstream failed, is resting, is busy past the time-out, or prefix is
    // not seven digits. Thread-safe.
    std::optional<LearnedEntry> ask(const std::string& prefix);
    // The same without waiting: false when there is nothing to wait for (the
    // answer is known, the upstream is resting or busy, prefix is not seven
    // digits); otherwise the upstream is asked and done is called once, on
    // another thread, when its answer is in, when the time-out passes, or
    // when the asker stops, whichever comes first. Thread-safe.
    bool askAsync(const std::string& prefix, std::function<void()> done);
    // What is known now, without asking anyone.
    std::optional<LearnedEntry> known(const std::string& prefix) const;

    // The request URL for a prefix: base + "/sim_search138.asp?mobile=" + prefix + "0000".
    static QString requestUrl(const QString& base, const std::string& prefix);

    // Re-reads the clock: a test calls it after moving its clock.
    void wake();

    struct Stats {
        std::uint64_t requests = 0; // sent to the upstream
        std::uint64_t learned = 0;  // answers kept
        std::uint64_t failed = 0;   // answers refused or requests failed
        std::size_t waiting = 0;    // clients waiting for an answer now
    };
    Stats stats() const;

private:
    // A client waiting without a thread: when it gives up, and in what order.
    using WaiterKey = std::pair<Clock::TimePoint, std::uint64_t>;

    struct Flight {
        std::string prefix;
        bool done = false;
        std::optional<LearnedEntry> answer;
        std::vector<WaiterKey> waiters;
    };

    struct Waiter {
        std::shared_ptr<Flight> flight;
        std::function<void()> done;
    };

    void work();
    void expireWaiters();
    // These three need mutex_ held: held is the lock on it.
    std::vector<std::function<void()>> takeWaiters(const std::unique_lock<std::mutex>& held, Flight& flight);
    std::optional<LearnedEntry> fetch(const std::string& prefix) const;
    bool fresh(const LearnedEntry& entry) const;
    bool resting(const std::unique_lock<std::mutex>& held, const std::string& prefix);
    std::shared_ptr<Flight> enqueue(const std::unique_lock<std::mutex>& held, const std::string& prefix);

    const UpstreamOptions options_;
    const std::string host_;
    LearnedStore* store_;
    const std::shared_ptr<Clock> clock_;
    mutable FetchCanceller canceller_; // ends the requests under way at stop()
    Normaliser normalise_;
    LearnedHook onLearned_;

    mutable std::mutex mutex_;
    std::condition_variable workCv_;
    std::condition_variable doneCv_;
    TokenBucket bucket_;
    std::deque<std::shared_ptr<Flight>> queue_;
    std::unordered_map<std::string, std::shared_ptr<Flight>> flights_;
    std::unordered_map<std::string, LearnedEntry> learned_;
    std::unordered_map<std::string, Clock::TimePoint> restingUntil_;
    std::map<WaiterKey, Waiter> waiters_; // soonest time-out first
    std::uint64_t nextWaiter_ = 0;
    std::condition_variable waiterCv_;
    Stats stats_;
    bool stopping_ = false;
    std::mutex stopMutex_; // one stop() at a time; the second waits for the first
    std::vector<std::thread> workers_;
};

} // namespace teloria::data
