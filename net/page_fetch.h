#pragma once
// The page fetch: one synchronous HTTP GET with libcurl, the body decoded to
// text (or kept as bytes, for a data file). Failures never throw; they give empty text. Safe to call from several
// threads at once, once the program's main has called curl_global_init.

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <mutex>
#include <vector>

namespace teloria {

// Ends fetches in flight from another thread: once cancel() is called, every
// fetch given this canceller returns at once with FetchError::Cancelled (a
// transfer waiting on a silent server too), and later ones do not start.
class FetchCanceller {
public:
    void cancel();
    bool cancelled() const { return cancelled_.load(std::memory_order_acquire); }

    // For the fetch itself: the libcurl multi handle it waits on, woken by cancel().
    bool attach(void* multi);
    void detach(void* multi);

private:
    std::atomic<bool> cancelled_{false};
    std::mutex mutex_;
    std::vector<void*> waiting_;
};

struct FetchOptions {
    long connectTimeoutMs = 10'000; // a dead server must not freeze the window for ever; 0: none
    long totalTimeoutMs = 30'000;   // the whole request, redirects included; 0: none
    std::size_t maxBodyBytes = 8u << 20; // a larger body gives empty text
    long maxRedirects = 5;          // http and https only
    // When false, a redirect to another origin (scheme, host or port) is not
    // followed: the fetch fails with OtherHost. Redirects within the origin are
    // followed all the same.
    bool followRedirectsToOtherHosts = true;
    // When true the body is handed over as it came (FetchResult::bytes) and
    // not decoded to text: a data file, not a page.
    bool keepBytes = false;
    // Extra request headers, each "Name: value" ("If-None-Match: \"v1\"").
    std::vector<std::string> requestHeaders;
    FetchCanceller* canceller = nullptr; // when set, must outlive the fetch
};

enum class FetchError {
    None,
    BadUrl,           // malformed, or not http/https (also a redirect's target)
    Resolve,          // the host name could not be resolved
    Connect,          // the connection was refused or could not be made
    Timeout,          // connect or total time-out
    TooManyRedirects,
    OtherHost,        // a redirect to another origin, with followRedirectsToOtherHosts off
    TooLarge,         // the body is larger than maxBodyBytes
    OutOfMemory,
    Transfer,         // any other failure while sending or receiving
    Cancelled,        // the canceller was told to stop
};

struct FetchResult {
    bool ok = false;  // an HTTP answer arrived (any status)
    long status = 0;
    QString text;     // the decoded body; empty when !ok or with keepBytes
    QByteArray bytes; // the body as it came, with keepBytes only
    std::string etag;         // the answer's ETag header, as sent; empty when none
    std::string lastModified; // the answer's Last-Modified header; empty when none
    FetchError error = FetchError::None;
    QString errorText; // libcurl's description of the failure; empty when ok
};

class MultiFetch;

// One GET on a fresh handle, released before it returns.
FetchResult fetchPage(const QString& url, const FetchOptions& options = {});

// The same GET, on one handle kept across calls so that consecutive requests
// to the same server reuse its connection (the command-line batch). One
// session belongs to one thread at a time; give each worker its own.
class FetchSession {
public:
    explicit FetchSession(FetchOptions options = {});
    ~FetchSession();
    FetchSession(FetchSession&&) noexcept;
    FetchSession& operator=(FetchSession&&) noexcept;

    FetchResult get(const QString& url);

private:
    FetchOptions options_;
    std::unique_ptr<MultiFetch> fetch_; // one transfer at a time, made on first use
};

} // namespace teloria
