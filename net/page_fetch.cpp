#include "net/page_fetch.h"

#include "net/fetch_hop.h"

#include <curl/curl.h>

#include <optional>

namespace teloria {

namespace {

// curl_easy_perform, but on a multi handle of its own when a canceller may end
// it: the wait for the server is then woken at once by cancel().
CURLcode performCancellable(CURL* curl, FetchCanceller* canceller)
{
    if (!canceller)
        return curl_easy_perform(curl);
    CURLM* multi = curl_multi_init();
    if (!multi)
        return CURLE_OUT_OF_MEMORY;
    if (!canceller->attach(multi)) {
        curl_multi_cleanup(multi);
        return CURLE_ABORTED_BY_CALLBACK;
    }
    CURLcode code = CURLE_OK;
    if (curl_multi_add_handle(multi, curl) != CURLM_OK) {
        code = CURLE_OUT_OF_MEMORY;
    } else {
        int running = 1;
        bool finished = false;
        while (!finished) {
            if (curl_multi_perform(multi, &running) != CURLM_OK) {
                code = CURLE_RECV_ERROR;
                break;
            }
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == curl) {
                    code = message->data.result;
                    finished = true;
                }
            }
            if (finished)
                break;
            if (canceller->cancelled()) {
                code = CURLE_ABORTED_BY_CALLBACK;
                break;
            }
            if (curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK) {
                code = CURLE_RECV_ERROR;
                break;
            }
        }
        curl_multi_remove_handle(multi, curl);
    }
    canceller->detach(multi);
    curl_multi_cleanup(multi);
    return code;
}

// The GET with its redirects, one hop after another on the same handle.
FetchResult perform(CURL* curl, const QString& url, const FetchOptions& options)
{
    RedirectChain chain(url, options);
    for (;;) {
        FetchHop hop;
        if (std::optional<FetchResult> failed = chain.beginHop(hop, curl))
            return std::move(*failed);
        if (std::optional<FetchResult> answer = chain.endHop(hop, performCancellable(curl, options.canceller)))
            return std::move(*answer);
    }
}

FetchResult guarded(CURL* curl, const QString& url, const FetchOptions& options) noexcept
{
    try {
        return perform(curl, url, options);
    } catch (...) {
        // Only allocation can throw here; answer without allocating more.
        FetchResult result;
        result.error = FetchError::OutOfMemory;
        return result;
    }
}

} // namespace

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

void FetchSession::HandleDeleter::operator()(void* handle) const noexcept
{
    curl_easy_cleanup(static_cast<CURL*>(handle));
}

FetchSession::FetchSession(FetchOptions options) : options_(options) {}
FetchSession::~FetchSession() = default;
FetchSession::FetchSession(FetchSession&&) noexcept = default;
FetchSession& FetchSession::operator=(FetchSession&&) noexcept = default;

FetchResult FetchSession::get(const QString& url)
{
    if (!handle_)
        handle_.reset(curl_easy_init());
    if (!handle_)
        return fetchFailure(FetchError::OutOfMemory, "no libcurl handle");
    return guarded(static_cast<CURL*>(handle_.get()), url, options_);
}

} // namespace teloria
