#pragma once
// The lookup web service over HTTP: GET and HEAD on "/sim_search138.asp"
// with the query key "mobile".
//
// Connections are served event-driven by a few threads (one per core by
// default), so idle, slow or keep-alive clients hold no thread while they
// wait, and neither does a lookup waiting for the upstream: its connection is
// suspended until the answer is in or the upstream's time-out has passed.
//
// The server's own thread accepts connections. When as many are open as it
// may hold, the one that has waited longest for its next request is closed to
// make room, so idle clients never lock out a new one; and from its accept or
// its last answer a connection has the idle time-out to send a whole request
// head, a bound that bytes trickling in one by one do not extend.

#include "data/number_normalizer.h"
#include "service/location_resolver.h"

#include <cstddef>
#include <memory>
#include <string>

namespace teloria::service {

inline constexpr char kLookupRoute[] = "/sim_search138.asp";

struct ServerOptions {
    unsigned threads = 0;              // 0: one per processor core
    std::size_t maxTargetBytes = 2048; // path and query; longer: 414
    std::size_t maxNumberBytes = data::kMaxNumberBytes; // the "mobile" value; longer: 400, it is no number
    std::size_t maxBodyBytes = 1024;   // a request body (no route takes one); larger: 413
    std::size_t maxHeaderCount = 64;   // header lines per request; more: 431
    std::size_t maxHeaderBytes = 8192; // header lines' bytes per request; more: 431
    std::size_t connectionMemory = 16 * 1024; // read and write buffers per connection, a hard bound
    unsigned maxConnections = 4096;    // open at once (fewer when the open-file limit is lower); when full,
                                       // the longest idle is closed for a new one
    unsigned maxConnectionsPerClient = 1024; // open at once from one address; none on a loopback address
    unsigned idleTimeoutSec = 30;      // a connection with no traffic for this long is closed, and one
                                       // whose request head is not all in this long after it began to wait
    int listenBacklog = 1024;          // connections waiting to be accepted
};

class LookupServer {
public:
    explicit LookupServer(std::shared_ptr<const LocationResolver> resolver, ServerOptions options = {});
    ~LookupServer(); // stops the server and waits for its threads
    LookupServer(const LookupServer&) = delete;
    LookupServer& operator=(const LookupServer&) = delete;

    // Binds host:port (port 0: a free one) and listens. Returns the bound
    // port, or -1 and a reason.
    int bind(const std::string& host, int port, std::string* error = nullptr);
    // Serves until stop() (returns at once if it was called before); false
    // when it could not serve.
    bool serve();
    // Serves on threads of its own; returns once connections are being accepted.
    bool serveInBackground(std::string* error = nullptr);
    // Safe from any thread; the port is closed when it returns.
    void stop();

    int port() const { return port_; }
    // Connections open now (accepted and not yet closed).
    std::size_t openConnections() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int port_ = -1;
};

} // namespace teloria::service
