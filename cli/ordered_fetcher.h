#pragma once
// Several requests in flight with the answers kept in input order: one block
// of URLs at a time goes to the multi-handle fetch, on the caller's thread,
// and fetchAll returns once the block is answered.

#include "net/multi_fetch.h"
#include "net/page_fetch.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

namespace teloria::cli {

// Told of every answer as it ends (in the order they end, one at a time);
// false: ask nothing more, in this block or any later one.
using KeepAsking = std::function<bool(const FetchResult&)>;

class OrderedFetcher {
public:
    // jobs requests in flight at once, all started together, so that a
    // service that never answers costs one time-out per jobs requests.
    OrderedFetcher(int jobs, FetchOptions options, KeepAsking keepAsking = {});

    OrderedFetcher(const OrderedFetcher&) = delete;
    OrderedFetcher& operator=(const OrderedFetcher&) = delete;

    // results[i] is urls[i]'s answer, or nothing when it was not asked because
    // keepAsking said stop.
    std::vector<std::optional<FetchResult>> fetchAll(const QStringList& urls);

    // The most requests that were in flight at once.
    int peakInFlight() const { return fetch_.peakInFlight(); }

private:
    MultiFetch fetch_;
    KeepAsking keepAsking_;
    bool gaveUp_ = false;
};

} // namespace teloria::cli
