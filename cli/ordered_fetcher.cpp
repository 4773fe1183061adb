#include "cli/ordered_fetcher.h"

#include <algorithm>

namespace teloria::cli {

OrderedFetcher::OrderedFetcher(int jobs, FetchFunctionFactory factory, KeepAsking keepAsking)
    : keepAsking_(std::move(keepAsking))
{
    if (jobs <= 1) {
        inline_ = factory();
        return;
    }
    workers_.reserve(static_cast<std::size_t>(jobs));
    for (int i = 0; i < jobs; ++i)
        workers_.emplace_back([this, get = factory()]() mutable { work(std::move(get)); });
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

bool OrderedFetcher::blockDone() const
{
    return inFlight_ == 0 && (gaveUp_ || urls_ == nullptr || next_ >= urls_->size());
}

void OrderedFetcher::work(FetchFunction get)
{
    std::unique_lock lock(mutex_);
    for (;;) {
        workAvailable_.wait(lock, [this] {
            return stopping_ || (urls_ != nullptr && !gaveUp_ && next_ < urls_->size());
        });
        if (stopping_)
            return;
        const qsizetype index = next_++;
        const QString url = urls_->at(index);
        peakInFlight_ = std::max(peakInFlight_, ++inFlight_);
        lock.unlock();

        FetchResult result = get(url);

        lock.lock();
        --inFlight_;
        if (keepAsking_ && !keepAsking_(result))
            gaveUp_ = true;
        (*results_)[static_cast<std::size_t>(index)] = std::move(result);
        if (blockDone())
            blockAnswered_.notify_one();
    }
}

std::vector<std::optional<FetchResult>> OrderedFetcher::fetchAll(const QStringList& urls)
{
    std::vector<std::optional<FetchResult>> results(static_cast<std::size_t>(urls.size()));
    if (workers_.empty()) {
        for (qsizetype i = 0; i < urls.size(); ++i) {
            {
                std::lock_guard lock(mutex_);
                if (gaveUp_)
                    break;
                peakInFlight_ = 1;
            }
            FetchResult result = inline_(urls.at(i));
            std::lock_guard lock(mutex_);
            if (keepAsking_ && !keepAsking_(result))
                gaveUp_ = true;
            results[static_cast<std::size_t>(i)] = std::move(result);
        }
        return results;
    }
    std::unique_lock lock(mutex_);
    urls_ = &urls;
    results_ = &results;
    next_ = 0;
    workAvailable_.notify_all();
    blockAnswered_.wait(lock, [this] { return blockDone(); });
    urls_ = nullptr;
    results_ = nullptr;
    return results;
}

int OrderedFetcher::peakInFlight() const
{
    std::lock_guard lock(mutex_);
    return peakInFlight_;
}

} // namespace teloria::cli
