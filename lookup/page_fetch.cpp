#include "page_fetch.h"

#include "text_codec.h"

#include <curl/curl.h>

#include <algorithm>
#include <string>

namespace teloria {

namespace {

// curl_global_init is not safe to race with itself; a function-local static
// runs it exactly once whichever thread gets here first. It is never undone:
// the library stays usable until the process ends.
bool curlReady()
{
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

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

// The one GET both the fresh-handle fetch and the session run. Every option is
// set here, on a handle that is new or has just been reset, so the two behave
// alike. No request header beyond libcurl's own is sent.
FetchResult perform(CURL* curl, const QString& url, const FetchOptions& options)
{
    const QByteArray urlBytes = url.toUtf8();
    BodySink sink;
    sink.curl = curl;
    sink.limit = options.maxBodyBytes;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    const bool configured =
        curl_easy_setopt(curl, CURLOPT_URL, urlBytes.constData()) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, std::max(options.connectTimeoutMs, 0L)) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, std::max(options.totalTimeoutMs, 0L)) == CURLE_OK
        // With a limit of 0 every redirect fails rather than returning the 3xx page.
        && curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK
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
    FetchResult result;
    result.ok = true;
    result.status = status;
    result.text = decodePage(QByteArrayView(sink.bytes.data(), qsizetype(sink.bytes.size())),
                             QByteArrayView(contentType));
    return result;
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
    if (!curlReady())
        return failure(FetchError::Transfer, "libcurl could not be initialised");
    CURL* curl = curl_easy_init();
    if (!curl)
        return failure(FetchError::OutOfMemory, "no libcurl handle");
    FetchResult result = guarded(curl, url, options);
    curl_easy_cleanup(curl);
    return result;
}

QString HttpGet(const QString& url, const FetchOptions& options)
{
    return fetchPage(url, options).text;
}

CurlSession::CurlSession(FetchOptions options) : options_(options) {}

CurlSession::~CurlSession()
{
    if (handle_)
        curl_easy_cleanup(static_cast<CURL*>(handle_));
}

FetchResult CurlSession::get(const QString& url)
{
    if (!curlReady())
        return failure(FetchError::Transfer, "libcurl could not be initialised");
    if (!handle_)
        handle_ = curl_easy_init();
    if (!handle_)
        return failure(FetchError::OutOfMemory, "no libcurl handle");
    auto* curl = static_cast<CURL*>(handle_);
    // Back to default options; the open connections and the name cache stay.
    curl_easy_reset(curl);
    return guarded(curl, url, options_);
}

} // namespace teloria
