#pragma once
// The page fetch: one synchronous HTTP GET with libcurl, the body decoded to
// text. Failures never throw; they give empty text. Safe to call from several
// threads at once, once the program's main has called curl_global_init.

#include <QString>
#include <cstddef>
#include <memory>

namespace teloria {

struct FetchOptions {
    long connectTimeoutMs = 10'000; // a dead server must not freeze the window for ever; 0: none
    long totalTimeoutMs = 30'000;   // the whole request, redirects included; 0: none
    std::size_t maxBodyBytes = 8u << 20; // a larger body gives empty text
    long maxRedirects = 5;          // http and https only
    // When false, a redirect to another host is not followed: the fetch fails
    // with OtherHost. Redirects on the same host are followed all the same.
    bool followRedirectsToOtherHosts = true;
};

enum class FetchError {
    None,
    BadUrl,           // malformed, or not http/https (also a redirect's target)
    Resolve,          // the host name could not be resolved
    Connect,          // the connection was refused or could not be made
    Timeout,          // connect or total time-out
    TooManyRedirects,
    OtherHost,        // a redirect to another host, with followRedirectsToOtherHosts off
    TooLarge,         // the body is larger than maxBodyBytes
    OutOfMemory,
    Transfer,         // any other failure while sending or receiving
};

struct FetchResult {
    bool ok = false;  // an HTTP answer arrived (any status)
    long status = 0;
    QString text;     // the decoded body; empty when !ok
    FetchError error = FetchError::None;
    QString errorText; // libcurl's description of the failure; empty when ok
};

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
    struct HandleDeleter {
        void operator()(void* handle) const noexcept;
    };
    FetchOptions options_;
    std::unique_ptr<void, HandleDeleter> handle_; // the CURL easy handle, made on first use
};

} // namespace teloria
