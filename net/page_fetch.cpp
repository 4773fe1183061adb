#include "net/page_fetch.h"

#include "net/multi_fetch.h"

#include <curl/curl.h>

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

FetchSession::FetchSession(FetchOptions options) : options_(options) {}
FetchSession::~FetchSession() = default;
FetchSession::FetchSession(FetchSession&&) noexcept = default;
FetchSession& FetchSession::operator=(FetchSession&&) noexcept = default;

// The one-transfer case of the multi-handle fetch: the same hops and results,
// its connection kept for the next call, and a canceller wakes its wait.
FetchResult FetchSession::get(const QString& url)
{
    try {
        if (!fetch_)
            fetch_ = std::make_unique<MultiFetch>(1, options_);
        FetchResult result;
        fetch_->fetch(QStringList{url}, [&result](qsizetype, FetchResult&& answer) {
            result = std::move(answer);
            return true;
        });
        return result;
    } catch (...) {
        // Only allocation can throw here; answer without allocating more.
        FetchResult result;
        result.error = FetchError::OutOfMemory;
        return result;
    }
}

} // namespace teloria
