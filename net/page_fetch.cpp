#include "net/page_fetch.h"

#include "net/multi_fetch.h"

#include <curl/curl.h>

#include <algorithm>

namespace teloria {

void FetchCanceller::cancel()
{
    std::lock_guard lock(mutex_);
    cancelled_.store(true, std::memory_order_release);
    for (void* multi : waiting_)
        curl_multi_wakeup(static_cast<CURLM*>(multi));
}

bool FetchCanceller::attach(void* multi)
{
    std::lock_guard lock(mutex_);
    if (cancelled())
        return false;
    waiting_.push_back(multi);
    return true;
}

void FetchCanceller::detach(void* multi)
{
    std::lock_guard lock(mutex_);
    std::erase(waiting_, multi);
}

FetchResult fetchPage(const QString& url, const FetchOptions& options)
{
    return FetchSession(options).get(url);
}

FetchSession::FetchSession(FetchOptions options, int transfers)
    : options_(std::move(options)), transfers_(std::max(transfers, 1))
{
}
FetchSession::~FetchSession() = default;
FetchSession::FetchSession(FetchSession&&) noexcept = default;
FetchSession& FetchSession::operator=(FetchSession&&) noexcept = default;

FetchResult FetchSession::get(const QString& url)
{
    try {
        return std::move(getAll(QStringList{url}).front());
    } catch (...) {
    }
    // Only allocation can fail here; answer without allocating more.
    FetchResult result;
    result.error = FetchError::OutOfMemory;
    return result;
}

// The multi-handle fetch with this session's slots: the same hops and
// results, its connections kept for the next call, and a canceller wakes its wait.
std::vector<FetchResult> FetchSession::getAll(const QStringList& urls)
{
    std::vector<FetchResult> results(std::size_t(urls.size()));
    try {
        if (!fetch_)
            fetch_ = std::make_unique<MultiFetch>(transfers_, options_);
        fetch_->fetch(urls, [&results](qsizetype index, FetchResult&& answer) {
            results[std::size_t(index)] = std::move(answer);
            return true;
        });
    } catch (...) {
        for (FetchResult& result : results)
            if (!result.ok && result.error == FetchError::None)
                result.error = FetchError::OutOfMemory;
    }
    return results;
}

} // namespace teloria
