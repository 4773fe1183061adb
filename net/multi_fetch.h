#pragma once
// Several GETs in flight at once on one libcurl multi handle, driven by the
// calling thread: no worker threads. Its easy handles and the connections of
// the multi handle are kept across calls, so that later URLs reuse the
// connections of earlier ones (the command-line batch). One MultiFetch
// belongs to one thread at a time; the options are those of the single fetch,
// each hop of a refused-elsewhere redirect a transfer of its own.

#include "net/page_fetch.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace teloria {

class MultiFetch {
public:
    // Told of one URL's answer (its index in the list) as it ends, in the
    // order they end; false: start no other URL of the list. URLs in flight
    // then still end and are told.
    using OnAnswer = std::function<bool(qsizetype index, FetchResult&& result)>;

    // At most `transfers` URLs in flight at once, each on a connection of its own (at least one).
    MultiFetch(int transfers, FetchOptions options = {});
    ~MultiFetch();
    MultiFetch(const MultiFetch&) = delete;
    MultiFetch& operator=(const MultiFetch&) = delete;

    // Asks the URLs in list order, as many at once as there are slots, each
    // next one as soon as a slot is free, and returns once every URL started
    // has been answered.
    void fetch(const QStringList& urls, const OnAnswer& onAnswer);

    // The most URLs that were in flight at once.
    int peakInFlight() const { return peakInFlight_; }

private:
    struct Slot;
    class Run;

    FetchOptions options_;
    int slotCount_;
    std::unique_ptr<Slot[]> slots_;
    void* multi_ = nullptr; // the CURLM handle
    int peakInFlight_ = 0;
};

} // namespace teloria
