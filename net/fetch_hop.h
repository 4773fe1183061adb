#pragma once
// The two halves of one GET on a libcurl easy handle, shared by the single
// fetch (FetchSession) and the parallel one (MultiFetch): a hop sets the
// handle up for one transfer and turns the finished transfer into a
// FetchResult; a redirect chain strings the hops of one URL together.
// Internal to net/.

#include "net/page_fetch.h"

#include <curl/curl.h>

#include <chrono>
#include <optional>
#include <string>

namespace teloria {

// One transfer on one easy handle: the body it receives, the request headers
// and libcurl's error text. libcurl keeps pointers into it from begin() until
// finish(), so it stays where it is meanwhile.
class FetchHop {
public:
    FetchHop() = default;
    ~FetchHop();
    FetchHop(const FetchHop&) = delete;
    FetchHop& operator=(const FetchHop&) = delete;

    // Resets the handle and sets every option for a GET of url (libcurl
    // follows redirects itself when follow is true). Nothing when the handle
    // is ready to be performed; otherwise the failure, and the handle holds no
    // pointer into the hop.
    std::optional<FetchResult> begin(CURL* curl, const char* url, const FetchOptions& options, bool follow,
                                     long totalTimeoutMs);
    // The performed transfer as a result. With redirectTo, a 3xx answer with
    // a target gives that target there and a result that is not ok.
    FetchResult finish(CURLcode code, std::string* redirectTo);

private:
    struct BodySink {
        CURL* curl = nullptr;
        std::size_t limit = 0;
        std::string bytes;
        bool tooLarge = false;
        bool outOfMemory = false;
    };
    static std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* user) noexcept;
    void release() noexcept;

    CURL* curl_ = nullptr;
    const FetchOptions* options_ = nullptr;
    BodySink sink_;
    curl_slist* headers_ = nullptr;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
};

// The hops of one URL. libcurl follows redirects itself unless those to other
// hosts are refused; then each hop is a transfer of its own, its target's
// origin checked before it is asked, at most maxRedirects of them, and the
// total time-out covers all of them together.
class RedirectChain {
public:
    RedirectChain(const QString& url, const FetchOptions& options);

    // Sets the handle up for the next hop; the answer instead when there is
    // none to ask (the time is up, the fetch was cancelled, the set-up failed).
    std::optional<FetchResult> beginHop(FetchHop& hop, CURL* curl);
    // The performed hop: the URL's answer, or nothing when another hop is to be asked.
    std::optional<FetchResult> endHop(FetchHop& hop, CURLcode code);

private:
    const FetchOptions& options_;
    std::string current_;
    std::string origin_; // the first URL's, once a redirect needs it
    std::chrono::steady_clock::time_point start_;
    long hops_ = 0;
};

// A result for a failure, with libcurl's or our own description.
FetchResult fetchFailure(FetchError error, const char* text) noexcept;

} // namespace teloria
