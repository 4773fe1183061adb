#pragma once
// A page fetcher that keeps several requests in flight and still hands the
// pages out in input order. It knows every URL of the run up front; worker
// threads, each with its own connection, fetch ahead into a bounded window,
// and fetch(url) returns the next page in order, waiting for it if needed.

#include "lookup/page_fetch.h"
#include "lookup/run_ports.h"

#include <QString>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace teloria::cli {

// One worker's way of doing a GET; it is only ever called from that worker's thread.
using FetchFunction = std::function<FetchResult(const QString& url)>;
// Makes one FetchFunction per worker (each typically owning a reusable handle).
using FetchFunctionFactory = std::function<FetchFunction()>;
// The URL of the i-th request, 0-based; called from the worker threads.
using UrlAt = std::function<QString(qsizetype index)>;

class OrderedFetcher : public PageFetcher {
public:
    // jobs > 1: that many worker threads; window = how many answers may wait for the reader
    // (at least jobs; 0 picks 4 x jobs).
    OrderedFetcher(qsizetype count, UrlAt urlAt, int jobs, FetchFunctionFactory factory,
                   int window = 0);
    ~OrderedFetcher() override; // stops the workers and waits for them

    OrderedFetcher(const OrderedFetcher&) = delete;
    OrderedFetcher& operator=(const OrderedFetcher&) = delete;

    // The page for the next URL in order. With one job, and for a call whose
    // URL is not the next one expected (or beyond the last), the request is
    // made on the spot, on the caller's thread.
    QString fetch(const QString& url) override;

    // Requests that got no HTTP answer, among those handed out so far.
    int failedRequests() const;
    // The most requests that were in flight at once.
    int peakInFlight() const;

private:
    void work(int worker, FetchFunction get);

    const qsizetype count_;
    const UrlAt urlAt_;
    const qsizetype window_;
    FetchFunctionFactory factory_;

    mutable std::mutex mutex_;
    std::condition_variable workAvailable_; // workers wait for room in the window
    std::condition_variable answerReady_;   // the reader waits for its next answer
    std::vector<std::optional<FetchResult>> slots_; // answer i lives in slot i % window
    qsizetype nextToTake_ = 0;  // next index a worker will request
    qsizetype nextToHand_ = 0;  // next index the reader will get
    int workersConnected_ = 0; // workers whose first request is done
    int inFlight_ = 0;
    int peakInFlight_ = 0;
    int failed_ = 0;
    bool stopping_ = false;

    FetchFunction inline_; // the reader's own: one job, or a call out of order; made on first use
    std::vector<std::thread> workers_;
};

} // namespace teloria::cli
