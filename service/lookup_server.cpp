#include "service/lookup_server.h"

#include "service/connection_table.h"
#include "service/lookup_page.h"
#include "service/upstream_wait.h"
#include "platform/platform.h"

#include <microhttpd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <strings.h>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace teloria::service {
namespace {

// How long stop() gives the lookups that waited for the upstream, and the
// requests already sent, to get their local answer out before the
// connections close.
constexpr std::chrono::milliseconds kAnswerWaitingOnStop{500};

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
    std::size_t contentLengths = 0; // the library takes the first of several, so a proxy may take another
};

MHD_Result tallyHeader(void* cls, MHD_ValueKind, const char* key, std::size_t keySize, const char*, std::size_t valueSize)
{
    auto* tally = static_cast<HeaderTally*>(cls);
    ++tally->count;
    tally->bytes += keySize + valueSize + 4; // "name: value\r\n"
    if (key && keySize == std::strlen(MHD_HTTP_HEADER_CONTENT_LENGTH)
        && strncasecmp(key, MHD_HTTP_HEADER_CONTENT_LENGTH, keySize) == 0)
        ++tally->contentLengths;
    return MHD_YES;
}

bool announcesBody(MHD_Connection* connection)
{
    const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    return (length && std::string_view(length) != "0")
           || MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING);
}

// A lookup waiting for the upstream, its connection suspended meanwhile.
// Shared with the upstream's callback, which may come after the server has
// gone: it then finds the wait over and touches nothing else.
struct Waiting {
    UpstreamWait wait;
    MHD_Connection* connection = nullptr;

    void finish()
    {
        wait.finish([this] { MHD_resume_connection(connection); });
    }
};

using Clock = std::chrono::steady_clock;

// Open files the process keeps for itself besides the connections.
constexpr unsigned kFilesKept = 64;
// How long a daemon thread answers without a pause before it lets others
// have its core, and the gap between two answers that counts as a pause
// (an answer takes about 10 us of a core).
constexpr std::chrono::microseconds kServingSlice{500};
constexpr std::chrono::microseconds kServingPause{50};

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
    MHD_Result answer(MHD_Connection* connection, std::string_view path, std::string_view method,
                      std::string_view version, void** mark);
    bool waitForUpstream(MHD_Connection* connection, const CleanNumber& number, void** mark);
    void forget(const void* mark);
    void finishWaiting(std::chrono::steady_clock::time_point deadline);

    static void onCompleted(void* cls, MHD_Connection* connection, void** mark, MHD_RequestTerminationCode)
    {
        auto* self = static_cast<Impl*>(cls);
        self->forget(*mark);
        self->waitForNextHead(connection);
        shareCore();
    }

    // A daemon thread with requests coming in back to back never sleeps, and
    // the kernel takes its core away only at a scheduler tick: a client on
    // the same machine (the window, a batch) then waited up to two ticks
    // (8 ms) to read its answer, and p99 was 6.5 ms against nginx's 2.7.
    // After half a millisecond of answering without a pause, the thread lets
    // whatever waits for its core go first. A thread that has just woken up
    // (or had its core taken) starts counting afresh rather than yield at
    // once: yielding on the first answer after every wake-up tripled the
    // thread's switches and cost a tenth of its requests/s.
    static void shareCore()
    {
        thread_local Clock::time_point busySince{};
        thread_local Clock::time_point answeredAt{};
        const auto now = Clock::now();
        if (now - answeredAt > kServingPause)
            busySince = now;
        answeredAt = now;
        if (now - busySince < kServingSlice)
            return;
        std::this_thread::yield();
        busySince = answeredAt = Clock::now();
    }

    static void onConnection(void* cls, MHD_Connection* connection, void** socketContext,
                             MHD_ConnectionNotificationCode code)
    {
        auto* self = static_cast<Impl*>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            // A daemon thread takes up a connection the accepting thread entered.
            const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            *socketContext = info ? self->connections->takenUp(static_cast<platform::Socket>(info->connect_fd)) : nullptr;
        } else if (*socketContext) {
            self->connections->closed(static_cast<ConnectionTable::Entry*>(*socketContext));
        }
    }

    void headArrived(MHD_Connection* connection);
    void waitForNextHead(MHD_Connection* connection);
    void acceptConnections();

    static void* onTarget(void* cls, const char* uri, MHD_Connection*)
    {
        const auto* self = static_cast<const Impl*>(cls);
        return std::strlen(uri) > self->options.maxTargetBytes ? &targetTooLong : nullptr;
    }

    static MHD_Result onRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                                const char* version, const char*, std::size_t*, void** mark)
    {
        // A request without a body is answered once it is all in, which keeps
        // the connection open for the next one. One with a body is answered
        // at once: no route takes a body, so it is never read, and the library
        // closes the connection rather than take its bytes for a next request.
        auto* self = static_cast<Impl*>(cls);
        if (*mark == nullptr || *mark == &targetTooLong)
            self->headArrived(connection);
        if (*mark == nullptr && !announcesBody(connection)) {
            *mark = &headSeen;
            return MHD_YES;
        }
        return self->answer(connection, url, method, version ? version : "", mark);
    }

    std::shared_ptr<const LocationResolver> resolver;
    ServerOptions options;
    Response notANumber, notFound, methodNotAllowed, targetTooLongResponse, bodyTooLarge, headersTooLarge, badRequest;

    // Lookups waiting for the upstream, by their request's mark.
    std::mutex waitingMutex;
    std::unordered_map<const void*, std::shared_ptr<Waiting>> waiting;
    std::condition_variable waitingGone; // a waiting lookup was answered (or its connection closed)
    bool closing = false; // stop() has begun: no lookup waits any more

    std::mutex mutex;
    std::condition_variable stopped;
    bool stopRequested = false;
    platform::Socket listener = platform::kNoSocket; // bound; accepted on by the accepting thread
    bool loopbackOnly = false; // bound to a loopback address: every client has the same one
    MHD_Daemon* daemon = nullptr;

    std::unique_ptr<ConnectionTable> connections; // made when serving starts
    std::thread acceptor;
    platform::ListenerWait listenerWait;
    platform::EndOfInputWatch endWatch; // the accepting thread's
    std::atomic<bool> stopAccepting{false};
};

namespace {
ConnectionTable::Entry* entryOf(MHD_Connection* connection)
{
    const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<ConnectionTable::Entry*>(info->socket_context) : nullptr;
}
} // namespace

void LookupServer::Impl::headArrived(MHD_Connection* connection)
{
    if (auto* entry = entryOf(connection))
        connections->requestArrived(entry);
}

void LookupServer::Impl::waitForNextHead(MHD_Connection* connection)
{
    if (auto* entry = entryOf(connection))
        connections->answered(entry);
}

void LookupServer::Impl::acceptConnections()
{
    while (!stopAccepting) {
        connections->endsOfInput(endWatch.ended());
        connections->passOnEndsOfInput();
        if (!listenerWait.wait(listener, connections->closePastHeadDeadline(), &endWatch))
            continue;
        while (!stopAccepting) {
            auto taken = platform::acceptConnection(listener);
            if (!taken)
                break;
            // Watched before the daemon reads from it: an end that came first is told too.
            if (!connections->enter(taken->socket, endWatch.watch(taken->socket))) {
                platform::closeSocket(taken->socket);
                continue;
            }
            // The daemon closes the socket when it cannot take it.
            if (MHD_add_connection(daemon, static_cast<MHD_socket>(taken->socket),
                                   reinterpret_cast<const sockaddr*>(taken->address), taken->addressSize)
                != MHD_YES)
                connections->withdraw(taken->socket);
        }
    }
}

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
    // The answer (or stop()) may have come already: then nothing is suspended.
    const bool suspended = entry->wait.suspendUnlessAnswered(asked, [&] { MHD_suspend_connection(connection); });
    if (suspended)
        *mark = entry.get();
    if (!suspended)
        forget(entry.get());
    return suspended;
}

void LookupServer::Impl::forget(const void* mark)
{
    if (mark == nullptr || mark == &targetTooLong || mark == &headSeen)
        return;
    {
        std::lock_guard lock(waitingMutex);
        waiting.erase(mark);
    }
    waitingGone.notify_all();
}

// Hands every suspended connection back before the daemon stops, and waits
// (a short while at most) until their lookups have the local answer on its
// way; callbacks that come later do nothing.
void LookupServer::Impl::finishWaiting(Clock::time_point deadline)
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
    if (entries.empty() || !daemon)
        return;
    std::unique_lock lock(waitingMutex);
    waitingGone.wait_until(lock, deadline, [this] { return waiting.empty(); });
}

MHD_Result LookupServer::Impl::answer(MHD_Connection* connection, std::string_view path, std::string_view method,
                                      std::string_view version, void** mark)
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
    // What the library lets through and a proxy in front may read otherwise:
    // two lengths, a GET or HEAD with a body (a length other than 0, or
    // chunks), an HTTP/1.1 request without Host.
    const bool getOrHead = method == MHD_HTTP_METHOD_GET || method == MHD_HTTP_METHOD_HEAD;
    if (headers.contentLengths > 1 || (getOrHead && announcesBody(connection))
        || (version == MHD_HTTP_VERSION_1_1
            && !MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST)))
        return reply(MHD_HTTP_BAD_REQUEST, badRequest.get());

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
    // suspended, then takes what is known.
    if (*mark == &headSeen && waitForUpstream(connection, *number, mark))
        return MHD_YES;
    if (*mark == nullptr)
        resolver->askUpstream(*number, {});
    const Response page = pageResponse(answerPage(number->digits, resolver->known(*number)));
    return reply(MHD_HTTP_OK, page.get());
}

bool LookupServer::Impl::start(std::string* error)
{
    if (daemon) {
        if (error)
            *error = "the server is serving already";
        return false;
    }
    // One thread per core: each has more connections to answer before it
    // sleeps, so fewer switches per request than with two per core (wrk on
    // the same two cores: 1.41x nginx's requests/s against 1.27x). The tail
    // that came with it is cut by shareCore.
    const unsigned threads = options.threads > 0 ? options.threads : std::max(1u, std::thread::hardware_concurrency());
    // As many connections as open files allow, the process's own kept aside.
    const unsigned long files = platform::raiseOpenFileLimit(static_cast<unsigned long>(options.maxConnections) + kFilesKept);
    const auto connectionCap = static_cast<unsigned>(std::clamp<unsigned long>(
        files > 2 * kFilesKept ? files - kFilesKept : files / 2, 1, std::max(1u, options.maxConnections)));
    connections = std::make_unique<ConnectionTable>(connectionCap, std::chrono::seconds(options.idleTimeoutSec));
    // epoll: poll() goes over every open connection for each event, and with
    // a thousand idle ones that was half the service's time. The FIN that
    // epoll mode would miss is seen by the accepting thread's watch and
    // passed on by the connection table.
    // The daemon takes connections from the accepting thread below, which
    // makes room for each. The daemon splits its own limit between its
    // threads and hands a connection to a thread by its socket number, not by
    // load, so each thread may hold the whole cap: past its share the library
    // (0.9.75) locks itself up refusing one.
    daemon = MHD_start_daemon(
        MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_ITC | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_NO_LISTEN_SOCKET, 0, nullptr,
        nullptr, &Impl::onRequest, this,
        MHD_OPTION_THREAD_POOL_SIZE, threads,
        MHD_OPTION_URI_LOG_CALLBACK, &Impl::onTarget, this,
        MHD_OPTION_NOTIFY_COMPLETED, &Impl::onCompleted, this,
        MHD_OPTION_NOTIFY_CONNECTION, &Impl::onConnection, this,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, options.connectionMemory,
        MHD_OPTION_CONNECTION_LIMIT, (connectionCap + 16) * threads,
        // On loopback every client is 127.0.0.1: a cap per address would be
        // one for all, and a thousand idle connections would lock out the rest.
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, loopbackOnly ? 0u : options.maxConnectionsPerClient,
        MHD_OPTION_CONNECTION_TIMEOUT, options.idleTimeoutSec,
        MHD_OPTION_END);
    if (!daemon) {
        if (error)
            *error = "the HTTP server could not start";
        return false;
    }
    stopAccepting = false;
    acceptor = std::thread([this] { acceptConnections(); });
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
    impl_->loopbackOnly = platform::loopbackAddress(host).has_value();
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

std::size_t LookupServer::openConnections() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->connections ? impl_->connections->open() : 0;
}

void LookupServer::stop()
{
    std::lock_guard lock(impl_->mutex);
    impl_->stopRequested = true;
    impl_->stopAccepting = true;
    impl_->listenerWait.wake();
    if (impl_->connections)
        impl_->connections->stopWaitingForRoom();
    if (impl_->acceptor.joinable())
        impl_->acceptor.join();
    const auto deadline = Clock::now() + kAnswerWaitingOnStop;
    impl_->finishWaiting(deadline);
    if (impl_->daemon) {
        impl_->connections->closeAfterAnswering(deadline);
        MHD_stop_daemon(impl_->daemon);
        impl_->daemon = nullptr;
    }
    platform::closeSocket(impl_->listener);
    impl_->listener = platform::kNoSocket;
    impl_->stopped.notify_all();
}

} // namespace teloria::service
