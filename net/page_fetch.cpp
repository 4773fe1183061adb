#include "net/page_fetch.h"

#include "text/text_codec.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string>

namespace teloria {

namespace {

struct BodySink {
    CURL* curl = nullptr;
    std::size_t limit = 0;
    std::string bytes;
    bool tooLarge = false;
    bool outOfMemory = false;
};

// Returning fewer bytes than offered makes libcurl abort the transfer.
std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* user) noexcept
{
    auto* sink = static_cast<BodySink*>(user);
    const std::size_t n = size * count;
    if (n > sink->limit - sink->bytes.size()) {
        sink->tooLarge = true;
        return 0;
    }
    try {
        if (sink->bytes.empty()) {
            curl_off_t announced = -1;
            if (curl_easy_getinfo(sink->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK
                && announced > 0 && static_cast<std::size_t>(announced) <= sink->limit)
                sink->bytes.reserve(static_cast<std::size_t>(announced));
        }
        sink->bytes.append(data, n);
    } catch (...) {
        sink->outOfMemory = true;
        return 0;
    }
    return n;
}

FetchError classify(CURLcode code, const BodySink& sink)
{
    if (sink.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
        return FetchError::TooLarge;
    if (sink.outOfMemory || code == CURLE_OUT_OF_MEMORY)
        return FetchError::OutOfMemory;
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return FetchError::BadUrl;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return FetchError::Resolve;
    case CURLE_COULDNT_CONNECT:
        return FetchError::Connect;
    case CURLE_OPERATION_TIMEDOUT:
        return FetchError::Timeout;
    case CURLE_TOO_MANY_REDIRECTS:
        return FetchError::TooManyRedirects;
    default:
        return FetchError::Transfer;
    }
}

FetchResult failure(FetchError error, const char* text) noexcept
{
    FetchResult result;
    result.error = error;
    try {
        result.errorText = QString::fromUtf8(text);
    } catch (...) {
    }
    return result;
}

using Clock = std::chrono::steady_clock;

// The host part of a URL, lower-cased; empty when it cannot be parsed.
std::string hostOf(const char* url)
{
    std::string host;
    CURLU* parsed = curl_url();
    if (!parsed)
        return host;
    char* part = nullptr;
    if (curl_url_set(parsed, CURLUPART_URL, url, 0) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_HOST, &part, 0) == CURLUE_OK && part) {
        host = part;
        std::transform(host.begin(), host.end(), host.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
    curl_free(part);
    curl_url_cleanup(parsed);
    return host;
}

// One transfer of one URL, no redirect followed unless libcurl follows them
// itself (follow). Every option is set here, on a handle that is new or has
// just been reset, so the fresh fetch and the session behave alike. No
// request header beyond libcurl's own is sent.
FetchResult transfer(CURL* curl, const char* url, const FetchOptions& options, bool follow,
                     long totalTimeoutMs, std::string* redirectTo)
{
    BodySink sink;
    sink.curl = curl;
    sink.limit = options.maxBodyBytes;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    const bool configured =
        curl_easy_setopt(curl, CURLOPT_URL, url) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, std::max(options.connectTimeoutMs, 0L)) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, std::max(totalTimeoutMs, 0L)) == CURLE_OK
        // With a limit of 0 every redirect fails rather than returning the 3xx page.
        && curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_MAXREDIRS, std::max(options.maxRedirects, 0L)) == CURLE_OK
        // An announced Content-Length over the limit ends the transfer before the body.
        && curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBodyBytes)) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer) == CURLE_OK;
    if (!configured) {
        curl_easy_reset(curl); // drop the pointers to this frame
        return failure(FetchError::Transfer, "the request could not be set up");
    }

    const CURLcode code = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    const char* contentType = nullptr; // owned by the handle: the last answer's header
    curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &contentType);

    if (code != CURLE_OK) {
        FetchResult result = failure(classify(code, sink),
                                     errorBuffer[0] ? errorBuffer : curl_easy_strerror(code));
        result.status = status;
        return result;
    }
    if (redirectTo && status >= 300 && status < 400) {
        const char* location = nullptr; // owned by the handle
        if (curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location) {
            *redirectTo = location;
            FetchResult result;
            result.status = status;
            return result;
        }
    }
    FetchResult result;
    result.ok = true;
    result.status = status;
    result.text = decodePage(QByteArrayView(sink.bytes.data(), qsizetype(sink.bytes.size())),
                             QByteArrayView(contentType));
    return result;
}

// The GET with its redirects. libcurl follows them itself unless redirects to
// other hosts are refused; then each hop is a transfer of its own, its target
// checked before it is asked, and the time-out covers all of them together.
FetchResult perform(CURL* curl, const QString& url, const FetchOptions& options)
{
    std::string current = url.toStdString();
    if (options.followRedirectsToOtherHosts)
        return transfer(curl, current.c_str(), options, true, options.totalTimeoutMs, nullptr);

    const Clock::time_point start = Clock::now();
    const std::string host = hostOf(current.c_str());
    for (long hops = 0;; ++hops) {
        long timeoutMs = 0;
        if (options.totalTimeoutMs > 0) {
            const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
            timeoutMs = options.totalTimeoutMs - static_cast<long>(spent);
            if (timeoutMs <= 0)
                return failure(FetchError::Timeout, "the redirects took longer than the time-out");
        }
        std::string next;
        FetchResult result = transfer(curl, current.c_str(), options, false, timeoutMs, &next);
        if (next.empty())
            return result;
        if (hops >= options.maxRedirects) {
            FetchResult tooMany = failure(FetchError::TooManyRedirects, "too many redirects");
            tooMany.status = result.status;
            return tooMany;
        }
        if (hostOf(next.c_str()) != host) {
            FetchResult elsewhere = failure(FetchError::OtherHost, "a redirect to another host was not followed");
            elsewhere.status = result.status;
            return elsewhere;
        }
        current = std::move(next);
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
        return failure(FetchError::OutOfMemory, "no libcurl handle");
    auto* curl = static_cast<CURL*>(handle_.get());
    // Back to default options; the open connections and the name cache stay.
    curl_easy_reset(curl);
    return guarded(curl, url, options_);
}

} // namespace teloria
