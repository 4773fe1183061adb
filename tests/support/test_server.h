#pragma once
// Servers on loopback for the tests: a real cpp-httplib server on 127.0.0.1
// with a free port and routes the test sets, a port that refuses every
// connection, and a server that takes connections and never answers.

#include <httplib.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace teloria::testing {

// One request as it arrived, before its handler ran.
struct LoggedRequest {
    std::string method;
    std::string path;
    httplib::Params params; // the query, decoded
    int remotePort = -1;    // the client's port: a new connection has a new one

    std::string param(const std::string& name) const;
};

// Started by its constructor, which returns once the accept loop runs, and
// stopped by its destructor. The routes are set before it starts, by the
// function given to the constructor. A server that cannot listen throws at
// once instead of leaving the test to wait.
class TestServer {
public:
    using Routes = std::function<void(httplib::Server&)>;

    explicit TestServer(const Routes& routes);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int port() const { return port_; }
    std::string baseUrl() const; // "http://127.0.0.1:<port>"
    std::string url(const std::string& pathAndQuery) const { return baseUrl() + pathAndQuery; }

    // Every request so far, in the order they arrived.
    std::vector<LoggedRequest> requests() const;
    // The value of one query parameter in each request so far, in arrival order.
    std::vector<std::string> paramValues(const std::string& name) const;

private:
    httplib::Server server_;
    int port_ = -1;
    std::thread thread_;
    std::atomic<bool> loopEnded_{false};
    mutable std::mutex mutex_;
    std::vector<LoggedRequest> log_;
};

// A loopback port bound for as long as the object lives, so that no other
// program can take it meanwhile.
class HeldPort {
public:
    HeldPort(const HeldPort&) = delete;
    HeldPort& operator=(const HeldPort&) = delete;

    int port() const { return port_; }
    std::string baseUrl() const;
    std::string url(const std::string& pathAndQuery) const { return baseUrl() + pathAndQuery; }

protected:
    HeldPort();
    ~HeldPort();
    int fd_ = -1;
    int port_ = -1;
};

// A port that refuses every connection: bound, never listening.
class RefusingPort : public HeldPort {};

// A port where connections complete (the kernel accepts them into a long
// queue) and requests are taken, but no answer ever comes.
class SilentServer : public HeldPort {
public:
    SilentServer();
};

} // namespace teloria::testing
