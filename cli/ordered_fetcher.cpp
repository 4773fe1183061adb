#include "ordered_fetcher.h"

#include <algorithm>

namespace teloria::cli {

OrderedFetcher::OrderedFetcher(qsizetype count, UrlAt urlAt, int jobs,
                               FetchFunctionFactory factory, int window)
    : count_(count),
      urlAt_(std::move(urlAt)),
      window_(std::max<qsizetype>(jobs, window > 0 ? window : 4 * qsizetype(jobs))),
      factory_(std::move(factory)),
      slots_(static_cast<std::size_t>(window_))
{
    // One job needs no worker: the reader's own thread does each request in
    // turn, which spares two thread switches per request.
    const int workers = jobs > 1 ? static_cast<int>(std::min<qsizetype>(jobs, count_)) : 0;
    workers_.reserve(static_cast<std::size_t>(std::max(workers, 0)));
    for (int i = 0; i < workers; ++i)
        workers_.emplace_back([this, i, get = factory_()]() mutable { work(i, std::move(get)); });
}

OrderedFetcher::~OrderedFetcher()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    workAvailable_.notify_all();
    for (std::thread& t : workers_)
        t.join();
}

void OrderedFetcher::work(int worker, FetchFunction get)
{
    std::unique_lock lock(mutex_);
    bool connected = false;
    for (;;) {
        // A worker may only run ahead of the reader by the window: the answers
        // in between fill every slot, so slot index % window is free.
        // Workers open their connections one after the other: a burst of
        // connects overflows a small listen backlog, and the kernel then
        // drops the handshake, which costs a second's retransmission.
        workAvailable_.wait(lock, [this, worker, connected] {
            return stopping_ || ((connected || worker <= workersConnected_) && nextToTake_ < count_ &&
                                 nextToTake_ < nextToHand_ + window_);
        });
        if (stopping_)
            return;
        const qsizetype index = nextToTake_++;
        peakInFlight_ = std::max(peakInFlight_, ++inFlight_);
        lock.unlock();

        FetchResult result = get(urlAt_(index));

        lock.lock();
        --inFlight_;
        slots_[static_cast<std::size_t>(index % window_)] = std::move(result);
        if (index == nextToHand_)
            answerReady_.notify_one();
        if (!connected) {
            connected = true;
            ++workersConnected_;
            workAvailable_.notify_all();
        }
    }
}

QString OrderedFetcher::fetch(const QString& url)
{
    std::unique_lock lock(mutex_);
    const qsizetype index = nextToHand_;
    if (workers_.empty() || index >= count_ || url != urlAt_(index)) {
        if (index < count_ && url == urlAt_(index))
            ++nextToHand_;
        peakInFlight_ = std::max(peakInFlight_, 1);
        lock.unlock();
        if (!inline_)
            inline_ = factory_();
        FetchResult result = inline_(url);
        lock.lock();
        if (!result.ok)
            ++failed_;
        return std::move(result.text);
    }
    std::optional<FetchResult>& slot = slots_[static_cast<std::size_t>(index % window_)];
    answerReady_.wait(lock, [&slot] { return slot.has_value(); });
    FetchResult result = std::move(*slot);
    slot.reset();
    ++nextToHand_;
    if (!result.ok)
        ++failed_;
    lock.unlock();
    workAvailable_.notify_one();
    return std::move(result.text);
}

int OrderedFetcher::failedRequests() const
{
    std::lock_guard lock(mutex_);
    return failed_;
}

int OrderedFetcher::peakInFlight() const
{
    std::lock_guard lock(mutex_);
    return peakInFlight_;
}

} // namespace teloria::cli
