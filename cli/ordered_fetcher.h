#pragma once
// Several requests in flight with the answers kept in input order: a pool of
// worker threads, each with its own connection, works through one block of
// URLs at a time, and fetchAll returns once the block is answered.
//
// Every worker waits for the same thing (an URL nobody has asked yet), and
// the one caller waits for the block's last answer, so a notify_all to the
// workers and a notify to the caller can never wake a thread that cannot go on.

#include "net/page_fetch.h"

#include <QString>
#include <QStringList>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace teloria::cli {

// One worker's way of doing a GET; it is only ever called from that worker's thread.
using FetchFunction = std::function<FetchResult(const QString& url)>;
// Makes one FetchFunction per worker (each typically owning a reusable handle).
using FetchFunctionFactory = std::function<FetchFunction()>;
// Told of every answer as it ends (in the order they end, one at a time);
// false: ask nothing more, in this block or any later one.
using KeepAsking = std::function<bool(const FetchResult&)>;

class OrderedFetcher {
public:
    // jobs > 1: that many workers, all started at once, so that a service that
    // never answers costs one time-out per jobs requests; 1: every request is
    // made on the caller's thread.
    OrderedFetcher(int jobs, FetchFunctionFactory factory, KeepAsking keepAsking = {});
    ~OrderedFetcher(); // stops the workers and waits for them

    OrderedFetcher(const OrderedFetcher&) = delete;
    OrderedFetcher& operator=(const OrderedFetcher&) = delete;

    // results[i] is urls[i]'s answer, or nothing when it was not asked because
    // keepAsking said stop.
    std::vector<std::optional<FetchResult>> fetchAll(const QStringList& urls);

    // The most requests that were in flight at once.
    int peakInFlight() const;

private:
    void work(FetchFunction get);
    bool blockDone() const; // with mutex_ held

    KeepAsking keepAsking_;
    FetchFunction inline_; // the caller's own, with one job

    mutable std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable blockAnswered_;
    const QStringList* urls_ = nullptr; // the block being worked on
    std::vector<std::optional<FetchResult>>* results_ = nullptr;
    qsizetype next_ = 0; // next index of the block to ask
    int inFlight_ = 0;
    int peakInFlight_ = 0;
    bool gaveUp_ = false;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

} // namespace teloria::cli
