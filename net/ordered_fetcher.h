#pragma once
// Several requests in flight with the answers kept in input order (the
// command-line batch, the window's run): one block of URLs at a time goes to
// the multi-handle fetch, and fetchAll returns once the block is answered.
//
// With many jobs the block is shared out among lanes, one per 16 jobs and at
// most one per core: the caller's thread and threads of their own, each with
// its own multi handle, its share of the jobs and connections of its own.
// Past a dozen or two transfers, one thread's own work on each answer
// (libcurl, decoding the page) is what limits a batch, not the service.

#include "net/multi_fetch.h"
#include "net/page_fetch.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace teloria {

// Told of every answer as it ends (in the order they end, one at a time);
// false: ask nothing more, in this block or any later one.
using KeepAsking = std::function<bool(const FetchResult&)>;

class OrderedFetcher {
public:
    // jobs requests in flight at once, all started together, so that a
    // service that never answers costs one time-out per jobs requests.
    // lanes 0: one per 16 jobs, at most one per core.
    OrderedFetcher(int jobs, FetchOptions options, KeepAsking keepAsking = {}, int lanes = 0);

    OrderedFetcher(const OrderedFetcher&) = delete;
    OrderedFetcher& operator=(const OrderedFetcher&) = delete;

    // results[i] is urls[i]'s answer, or nothing when it was not asked because
    // keepAsking said stop.
    std::vector<std::optional<FetchResult>> fetchAll(const QStringList& urls);

    // The most requests that were in flight at once, over all lanes.
    int peakInFlight() const;

private:
    std::vector<std::unique_ptr<MultiFetch>> lanes_;
    KeepAsking keepAsking_;
    std::mutex keepAskingMutex_; // lanes answer on threads of their own
    std::atomic<bool> gaveUp_{false};
};

} // namespace teloria
