#pragma once
// The page fetch: one synchronous HTTP GET with libcurl, the body decoded to
// text. Failures never throw; they give empty text.

#include "run_ports.h"

#include <QString>
#include <cstddef>

namespace teloria {

struct FetchOptions {
    long connectTimeoutMs = 10'000; // a dead server must not freeze the window for ever
    long totalTimeoutMs = 30'000;
    std::size_t maxBodyBytes = 8u << 20; // a larger body gives empty text
    long maxRedirects = 5;
};

struct FetchResult {
    bool ok = false;  // an HTTP answer arrived (any status)
    long status = 0;
    QString text;     // the decoded body; empty when !ok
};

// One GET on a fresh handle, released before it returns.
FetchResult fetchPage(const QString& url, const FetchOptions& options = {});

// The window's public page fetch: the body as text, empty on any failure.
QString HttpGet(const QString& url, const FetchOptions& options = {});

// The PageFetcher the window and the command line use: a fresh handle per call.
class CurlPageFetcher : public PageFetcher {
public:
    explicit CurlPageFetcher(FetchOptions options = {}) : options_(options) {}
    QString fetch(const QString& url) override { return HttpGet(url, options_); }

private:
    FetchOptions options_;
};

} // namespace teloria
