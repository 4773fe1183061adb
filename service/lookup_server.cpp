#include "service/lookup_server.h"

#include "service/lookup_page.h"
#include "platform/platform.h"

#include <microhttpd.h>

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace teloria::service {
namespace {

struct ResponseDeleter {
    void operator()(MHD_Response* r) const { MHD_destroy_response(r); }
};
using Response = std::unique_ptr<MHD_Response, ResponseDeleter>;

Response pageResponse(const std::string& page)
{
    Response response(MHD_create_response_from_buffer(page.size(), const_cast<char*>(page.data()),
                                                      MHD_RESPMEM_MUST_COPY));
    MHD_add_response_header(response.get(), MHD_HTTP_HEADER_CONTENT_TYPE, kPageContentType);
    return response;
}

// Marks a request whose target (path and query) is over the limit (the
// target is only seen whole before the library splits and decodes it), and
// a request whose head has been seen, to be answered once it is all in.
char targetTooLong;
char headSeen;

struct HeaderTally {
    std::size_t count = 0;
    std::size_t bytes = 0;
};

MHD_Result tallyHeader(void* cls, MHD_ValueKind, const char*, std::size_t keySize, const char*, std::size_t valueSize)
{
    auto* tally = static_cast<HeaderTally*>(cls);
    ++tally->count;
    tally->bytes += keySize + valueSize + 4; // "name: value\r\n"
    return MHD_YES;
}

bool announcesBody(MHD_Connection* connection)
{
    const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    return (length && std::string_view(length) != "0")
           || MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING);
}

// A lookup waiting for the upstream, its connection suspended meanwhile so
// that it holds no server thread. Shared with the upstream's callback, which
// may come after the server has gone: it then finds the lookup Ready and
// touches nothing else.
struct Waiting {
    enum class State { Asking, Suspended, Ready };
    std::mutex mutex;
    MHD_Connection* connection = nullptr;
    State state = State::Asking;

    // From the upstream's side, or from stop(): once only, the connection is
    // handed back to the server, which calls the handler again to answer.
    void finish()
    {
        std::lock_guard lock(mutex);
        if (state == State::Suspended)
            MHD_resume_connection(connection);
        state = State::Ready;
    }
};

} // namespace

struct LookupServer::Impl {
    Impl(std::shared_ptr<const LocationResolver> r, ServerOptions o)
        : resolver(std::move(r))
        , options(o)
        , notANumber(pageResponse(notANumberPage()))
        , notFound(pageResponse(notFoundPage()))
        , methodNotAllowed(pageResponse(methodNotAllowedPage()))
        , targetTooLongResponse(pageResponse(tooLongPage()))
        , bodyTooLarge(pageResponse(tooLargePage()))
        , headersTooLarge(pageResponse(headersTooLargePage()))
        , badRequest(pageResponse(badRequestPage()))
    {
        MHD_add_response_header(methodNotAllowed.get(), MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    }

    bool start(std::string* error);
    MHD_Result answer(MHD_Connection* connection, std::string_view path, std::string_view method, void** mark);
    bool waitForUpstream(MHD_Connection* connection, const CleanNumber& number, void** mark);
    void forget(const void* mark);
    void finishWaiting();

    static void onCompleted(void* cls, MHD_Connection*, void** mark, MHD_RequestTerminationCode)
    {
        static_cast<Impl*>(cls)->forget(*mark);
    }

    static void* onTarget(void* cls, const char* uri, MHD_Connection*)
    {
        const auto* self = static_cast<const Impl*>(cls);
        return std::strlen(uri) > self->options.maxTargetBytes ? &targetTooLong : nullptr;
    }

    static MHD_Result onRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                                const char*, const char*, std::size_t*, void** mark)
    {
        // A request without a body is answered once it is all in, which keeps
        // the connection open for the next one. One with a body is answered
        // at once: no route takes a body, so it is never read, and the library
        // closes the connection rather than take its bytes for a next request.
        if (*mark == nullptr && !announcesBody(connection)) {
            *mark = &headSeen;
            return MHD_YES;
        }
        return static_cast<Impl*>(cls)->answer(connection, url, method, mark);
    }

    std::shared_ptr<const LocationResolver> resolver;
    ServerOptions options;
    Response notANumber, notFound, methodNotAllowed, targetTooLongResponse, bodyTooLarge, headersTooLarge, badRequest;

    // Lookups waiting for the upstream, by their request's mark.
    std::mutex waitingMutex;
    std::unordered_map<const void*, std::shared_ptr<Waiting>> waiting;
    bool closing = false; // stop() has begun: no lookup waits any more

    std::mutex mutex;
    std::condition_variable stopped;
    bool stopRequested = false;
    platform::Socket listener = platform::kNoSocket; // bound, not yet handed to the daemon
    MHD_Daemon* daemon = nullptr;
};

// Suspends the connection until the upstream answers or its time-out passes;
// false when the lookup can be answered now.
bool LookupServer::Impl::waitForUpstream(MHD_Connection* connection, const CleanNumber& number, void** mark)
{
    auto entry = std::make_shared<Waiting>();
    entry->connection = connection;
    {
        std::lock_guard lock(waitingMutex);
        if (closing)
            return false;
        waiting.emplace(entry.get(), entry);
    }
    const bool asked = resolver->askUpstream(number, [entry] { entry->finish(); });
    bool suspended = false;
    {
        std::lock_guard lock(entry->mutex);
        // The answer (or stop()) may have come already: then nothing is suspended.
        if (asked && entry->state == Waiting::State::Asking) {
            MHD_suspend_connection(connection);
            entry->state = Waiting::State::Suspended;
            *mark = entry.get();
            suspended = true;
        } else {
            entry->state = Waiting::State::Ready;
        }
    }
    if (!suspended)
        forget(entry.get());
    return suspended;
}

void LookupServer::Impl::forget(const void* mark)
{
    if (mark == nullptr || mark == &targetTooLong || mark == &headSeen)
        return;
    std::lock_guard lock(waitingMutex);
    waiting.erase(mark);
}

// Hands every suspended connection back before the daemon stops; their
// lookups get the local answer, and callbacks that come later do nothing.
void LookupServer::Impl::finishWaiting()
{
    std::vector<std::shared_ptr<Waiting>> entries;
    {
        std::lock_guard lock(waitingMutex);
        closing = true;
        for (const auto& [mark, entry] : waiting)
            entries.push_back(entry);
    }
    for (const auto& entry : entries)
        entry->finish();
}

MHD_Result LookupServer::Impl::answer(MHD_Connection* connection, std::string_view path, std::string_view method,
                                      void** mark)
{
    const auto reply = [connection](int status, MHD_Response* response) {
        return MHD_queue_response(connection, static_cast<unsigned>(status), response);
    };
    if (*mark == &targetTooLong)
        return reply(MHD_HTTP_URI_TOO_LONG, targetTooLongResponse.get());

    HeaderTally headers;
    MHD_get_connection_values_n(connection, MHD_HEADER_KIND, &tallyHeader, &headers);
    if (headers.count > options.maxHeaderCount || headers.bytes > options.maxHeaderBytes)
        return reply(MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE, headersTooLarge.get());

    if (const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH)) {
        std::size_t bytes = 0;
        const std::string_view text(length);
        if (std::from_chars(text.data(), text.data() + text.size(), bytes).ec != std::errc()
            || bytes > options.maxBodyBytes)
            return reply(MHD_HTTP_CONTENT_TOO_LARGE, bodyTooLarge.get());
    }

    const bool lookupPath = path == kLookupRoute;
    if (method != MHD_HTTP_METHOD_GET && method != MHD_HTTP_METHOD_HEAD) {
        for (const std::string_view known : {MHD_HTTP_METHOD_POST, MHD_HTTP_METHOD_PUT, MHD_HTTP_METHOD_PATCH,
                                             MHD_HTTP_METHOD_DELETE, MHD_HTTP_METHOD_OPTIONS}) {
            if (method == known)
                return lookupPath ? reply(MHD_HTTP_METHOD_NOT_ALLOWED, methodNotAllowed.get())
                                  : reply(MHD_HTTP_NOT_FOUND, notFound.get());
        }
        return reply(MHD_HTTP_BAD_REQUEST, badRequest.get());
    }
    if (!lookupPath)
        return reply(MHD_HTTP_NOT_FOUND, notFound.get());

    // The first "mobile" value, split at '&' and '=' and percent-decoded once
    // by the library; the bytes after a decoded '&' or '=' stay in the value.
    const char* value = nullptr;
    std::size_t valueSize = 0;
    const std::string_view key = "mobile";
    if (MHD_lookup_connection_value_n(connection, MHD_GET_ARGUMENT_KIND, key.data(), key.size(), &value, &valueSize)
            != MHD_YES
        || !value || valueSize > options.maxNumberBytes)
        return reply(MHD_HTTP_BAD_REQUEST, notANumber.get());
    const auto number = cleanNumber(std::string_view(value, valueSize));
    if (!number)
        return reply(MHD_HTTP_BAD_REQUEST, notANumber.get());
    // A lookup the upstream is asked about waits for it with its connection
    // suspended, then takes what is known. One with a body is answered at
    // once (the upstream is still asked, for the next time).
    if (*mark == &headSeen && waitForUpstream(connection, *number, mark))
        return MHD_YES;
    if (*mark == nullptr)
        resolver->askUpstream(*number, {});
    const Response page = pageResponse(answerPage(number->digits, resolver->known(*number)));
    return reply(MHD_HTTP_OK, page.get());
}

bool LookupServer::Impl::start(std::string* error)
{
    const unsigned threads = options.threads > 0 ? options.threads : std::max(1u, std::thread::hardware_concurrency());
    // poll() rather than epoll: with epoll the library misses a client's FIN
    // that arrives after the requests it has read, and the half-closed
    // connection would wait for the idle time-out instead of being closed.
    daemon = MHD_start_daemon(
        MHD_USE_POLL_INTERNAL_THREAD | MHD_USE_ITC | MHD_ALLOW_SUSPEND_RESUME, 0, nullptr, nullptr, &Impl::onRequest, this,
        MHD_OPTION_LISTEN_SOCKET, static_cast<MHD_socket>(listener),
        MHD_OPTION_THREAD_POOL_SIZE, threads,
        MHD_OPTION_URI_LOG_CALLBACK, &Impl::onTarget, this,
        MHD_OPTION_NOTIFY_COMPLETED, &Impl::onCompleted, this,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, options.connectionMemory,
        MHD_OPTION_CONNECTION_LIMIT, options.maxConnections,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, options.maxConnectionsPerClient,
        MHD_OPTION_CONNECTION_TIMEOUT, options.idleTimeoutSec,
        MHD_OPTION_END);
    if (!daemon) {
        if (error)
            *error = "the HTTP server could not start";
        return false;
    }
    listener = platform::kNoSocket; // the daemon closes it when it stops
    return true;
}

LookupServer::LookupServer(std::shared_ptr<const LocationResolver> resolver, ServerOptions options)
    : impl_(std::make_unique<Impl>(std::move(resolver), options))
{
}

LookupServer::~LookupServer()
{
    stop();
}

int LookupServer::bind(const std::string& host, int port, std::string* error)
{
    std::lock_guard lock(impl_->mutex);
    if (impl_->listener != platform::kNoSocket || impl_->daemon) {
        if (error)
            *error = "the server is bound already";
        return -1;
    }
    const auto listening = platform::listenOn(host, port, impl_->options.listenBacklog, error);
    if (!listening)
        return -1;
    impl_->listener = listening->socket;
    port_ = listening->port;
    return port_;
}

bool LookupServer::serve()
{
    std::unique_lock lock(impl_->mutex);
    if (!impl_->stopRequested) {
        if (!impl_->daemon && (impl_->listener == platform::kNoSocket || !impl_->start(nullptr)))
            return false;
        impl_->stopped.wait(lock, [this] { return impl_->stopRequested; });
    }
    return true;
}

bool LookupServer::serveInBackground(std::string* error)
{
    std::lock_guard lock(impl_->mutex);
    if (impl_->listener == platform::kNoSocket) {
        if (error)
            *error = "the server is not bound to a port";
        return false;
    }
    return impl_->start(error);
}

void LookupServer::stop()
{
    std::lock_guard lock(impl_->mutex);
    impl_->stopRequested = true;
    impl_->finishWaiting();
    if (impl_->daemon) {
        MHD_stop_daemon(impl_->daemon);
        impl_->daemon = nullptr;
    }
    platform::closeSocket(impl_->listener);
    impl_->listener = platform::kNoSocket;
    impl_->stopped.notify_all();
}

} // namespace teloria::service
