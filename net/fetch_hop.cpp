#include "net/fetch_hop.h"

#include "text/text_codec.h"

#include <algorithm>
#include <cctype>

namespace teloria {

namespace {

// Called by libcurl while a transfer runs: a non-zero answer aborts it.
int checkCancelled(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) noexcept
{
    const auto* canceller = static_cast<const FetchCanceller*>(user);
    return canceller && canceller->cancelled() ? 1 : 0;
}

FetchError classify(CURLcode code, bool tooLarge, bool outOfMemory, const FetchOptions& options)
{
    if (options.canceller && options.canceller->cancelled())
        return FetchError::Cancelled;
    if (tooLarge || code == CURLE_FILESIZE_EXCEEDED)
        return FetchError::TooLarge;
    if (outOfMemory || code == CURLE_OUT_OF_MEMORY)
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

// A header of the last answer, as sent; empty when it has none. The value
// goes back to the same server only, in a later request's header, so it is
// kept to printable ASCII.
std::string headerValue(CURL* curl, const char* name)
{
    curl_header* header = nullptr;
    if (curl_easy_header(curl, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK || !header || !header->value)
        return {};
    std::string value = header->value;
    if (value.size() > 256 || !std::all_of(value.begin(), value.end(), [](unsigned char c) { return c >= 0x20 && c < 0x7F; }))
        return {};
    return value;
}

// The origin of a URL, "scheme://host:port" lower-cased with the scheme's
// default port filled in; empty when it cannot be parsed.
std::string originOf(const char* url)
{
    std::string origin;
    CURLU* parsed = curl_url();
    if (!parsed)
        return origin;
    char* scheme = nullptr;
    char* host = nullptr;
    char* port = nullptr;
    if (curl_url_set(parsed, CURLUPART_URL, url, 0) == CURLUE_OK
        && curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK && scheme
        && curl_url_get(parsed, CURLUPART_HOST, &host, 0) == CURLUE_OK && host
        && curl_url_get(parsed, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK && port) {
        origin = std::string(scheme) + "://" + host + ':' + port;
        std::transform(origin.begin(), origin.end(), origin.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
    curl_free(scheme);
    curl_free(host);
    curl_free(port);
    curl_url_cleanup(parsed);
    return origin;
}

} // namespace

FetchResult fetchFailure(FetchError error, const char* text) noexcept
{
    FetchResult result;
    result.error = error;
    try {
        result.errorText = QString::fromUtf8(text);
    } catch (...) {
    }
    return result;
}

// Returning fewer bytes than offered makes libcurl abort the transfer.
std::size_t FetchHop::appendBody(char* data, std::size_t size, std::size_t count, void* user) noexcept
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

FetchHop::~FetchHop()
{
    release();
}

// Drops the handle's pointers into this hop and the header list; the hop
// does not touch the handle again until the next begin().
void FetchHop::release() noexcept
{
    if (curl_) {
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, nullptr);
        curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, nullptr);
        curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, nullptr);
        curl_ = nullptr;
    }
    curl_slist_free_all(headers_);
    headers_ = nullptr;
}

// Every option is set here, on a handle that has just been reset, so every
// hop of every fetch behaves alike: the open connections and the name cache
// stay. No request header beyond libcurl's own and the options' is sent.
std::optional<FetchResult> FetchHop::begin(CURL* curl, const char* url, const FetchOptions& options, bool follow,
                                           long totalTimeoutMs)
{
    release();
    curl_easy_reset(curl);
    curl_ = curl;
    options_ = &options;
    sink_ = BodySink{};
    sink_.curl = curl;
    sink_.limit = options.maxBodyBytes;
    errorBuffer_[0] = '\0';
    for (const std::string& header : options.requestHeaders) {
        curl_slist* longer = curl_slist_append(headers_, header.c_str());
        if (!longer) {
            release();
            return fetchFailure(FetchError::OutOfMemory, "no memory for the request headers");
        }
        headers_ = longer;
    }

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
        && curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink_) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer_) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers_) == CURLE_OK
        && (!options.canceller
            || (curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, checkCancelled) == CURLE_OK
                && curl_easy_setopt(curl, CURLOPT_XFERINFODATA, options.canceller) == CURLE_OK
                && curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L) == CURLE_OK));
    if (!configured) {
        release();
        curl_easy_reset(curl); // drop every pointer into this hop
        return fetchFailure(FetchError::Transfer, "the request could not be set up");
    }
    return std::nullopt;
}

FetchResult FetchHop::finish(CURLcode code, std::string* redirectTo)
{
    CURL* curl = curl_;
    release();
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    const char* contentType = nullptr; // owned by the handle: the last answer's header
    curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &contentType);

    if (code != CURLE_OK) {
        FetchResult result = fetchFailure(classify(code, sink_.tooLarge, sink_.outOfMemory, *options_),
                                          errorBuffer_[0] ? errorBuffer_ : curl_easy_strerror(code));
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
    result.etag = headerValue(curl, "ETag");
    result.lastModified = headerValue(curl, "Last-Modified");
    if (options_->keepBytes)
        result.bytes = QByteArray(sink_.bytes.data(), qsizetype(sink_.bytes.size()));
    else
        result.text = decodePage(QByteArrayView(sink_.bytes.data(), qsizetype(sink_.bytes.size())),
                                 QByteArrayView(contentType));
    return result;
}

RedirectChain::RedirectChain(const QString& url, const FetchOptions& options)
    : options_(options), current_(url.toStdString()), start_(std::chrono::steady_clock::now())
{
}

std::optional<FetchResult> RedirectChain::beginHop(FetchHop& hop, CURL* curl)
{
    if (options_.canceller && options_.canceller->cancelled())
        return fetchFailure(FetchError::Cancelled, "the fetch was cancelled");
    if (options_.followRedirectsToOtherHosts)
        return hop.begin(curl, current_.c_str(), options_, true, options_.totalTimeoutMs);
    long timeoutMs = 0;
    if (options_.totalTimeoutMs > 0) {
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count();
        timeoutMs = options_.totalTimeoutMs - static_cast<long>(spent);
        if (timeoutMs <= 0)
            return fetchFailure(FetchError::Timeout, "the redirects took longer than the time-out");
    }
    return hop.begin(curl, current_.c_str(), options_, false, timeoutMs);
}

std::optional<FetchResult> RedirectChain::endHop(FetchHop& hop, CURLcode code)
{
    if (options_.followRedirectsToOtherHosts)
        return hop.finish(code, nullptr);
    std::string next;
    FetchResult result = hop.finish(code, &next);
    if (next.empty())
        return result;
    if (hops_ >= options_.maxRedirects) {
        FetchResult tooMany = fetchFailure(FetchError::TooManyRedirects, "too many redirects");
        tooMany.status = result.status;
        return tooMany;
    }
    // Worked out at the first redirect only: most answers have none.
    if (hops_ == 0)
        origin_ = originOf(current_.c_str());
    // Another scheme than http or https is refused by the next transfer as a bad URL.
    const std::string nextOrigin = originOf(next.c_str());
    const bool web = nextOrigin.starts_with("http://") || nextOrigin.starts_with("https://");
    if (nextOrigin != origin_ && (web || nextOrigin.empty())) {
        FetchResult elsewhere = fetchFailure(FetchError::OtherHost, "a redirect to another host was not followed");
        elsewhere.status = result.status;
        return elsewhere;
    }
    current_ = std::move(next);
    ++hops_;
    return std::nullopt;
}

} // namespace teloria
