#pragma once
// The lookup web service over HTTP: GET and HEAD on "/sim_search138.asp"
// with the query key "mobile".

#include "location_resolver.h"

#include <httplib.h>

#include <atomic>
#include <cstddef>
#include <ctime>
#include <memory>
#include <string>
#include <thread>


namespace teloria::service {

inline constexpr char kLookupRoute[] = "/sim_search138.asp";

struct ServerOptions {
    std::size_t workerThreads = 32;   // each keep-alive connection holds one while it is open
    std::size_t maxTargetBytes = 2048; // path and query; longer: 414
    std::size_t maxNumberBytes = 64;   // the "mobile" value; longer: 400, it is no number
    std::size_t maxBodyBytes = 1024;   // a request body (no route takes one); larger: 413
    std::size_t keepAliveMaxRequests = 10000;
    std::time_t keepAliveTimeoutSec = 2; // also bounds how long stop() waits for idle clients
    std::time_t readTimeoutSec = 5;
    std::time_t writeTimeoutSec = 5;
};

class LookupServer {
public:
    explicit LookupServer(std::shared_ptr<const LocationResolver> resolver, ServerOptions options = {});
    ~LookupServer(); // stops the server and waits for its thread
    LookupServer(const LookupServer&) = delete;
    LookupServer& operator=(const LookupServer&) = delete;

    // Binds host:port (port 0: a free one). Returns the bound port, or -1 and a reason.
    int bind(const std::string& host, int port, std::string* error = nullptr);
    // Serves on the calling thread until stop(); false when it could not serve.
    bool serve();
    // Serves on a thread of its own; returns once connections are being accepted.
    bool serveInBackground(std::string* error = nullptr);
    // Safe from any thread, once serving has begun.
    void stop();

    int port() const { return port_; }

private:
    void setUpRoutes();

    std::shared_ptr<const LocationResolver> resolver_;
    ServerOptions options_;
    // The library's server, able to release a socket bound but never served
    // (its own destructor leaves that socket open).
    class Server : public httplib::Server {
    public:
        void closeUnserved();
    };

    std::unique_ptr<Server> server_;
    bool served_ = false;
    std::thread thread_;
    std::atomic<bool> ended_{false}; // the background accept loop has returned
    int port_ = -1;
};

} // namespace teloria::service
