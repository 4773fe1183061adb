#include "support/test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace teloria::testing {

namespace {

// Worker threads of the test server: more than any test keeps connections open.
constexpr std::size_t kServerThreads = 80;

std::string loopbackUrl(int port)
{
    return "http://127.0.0.1:" + std::to_string(port);
}

[[noreturn]] void fail(const char* what)
{
    throw std::runtime_error(std::string("test server: ") + what + ": " + std::strerror(errno));
}

// A TCP socket bound to a free loopback port; its port goes to *port.
int boundLoopbackSocket(int* port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        fail("socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        fail("bind");
    }
    *port = ntohs(addr.sin_port);
    return fd;
}

} // namespace

std::string LoggedRequest::param(const std::string& name) const
{
    const auto it = params.find(name);
    return it == params.end() ? std::string() : it->second;
}

TestServer::TestServer(const Routes& routes)
{
    server_.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    // A client that keeps its connection would otherwise wait out the delayed
    // acknowledgement between the header and the body of every answer.
    server_.set_tcp_nodelay(true);
    server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        std::lock_guard lock(mutex_);
        log_.push_back({req.method, req.path, req.params, req.remote_port});
        return httplib::Server::HandlerResponse::Unhandled;
    });
    if (routes)
        routes(server_);
    int listener = -1;
    server_.set_socket_options([&listener](socket_t fd) {
        httplib::default_socket_options(fd);
        listener = fd;
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    server_.set_socket_options(httplib::default_socket_options);
    if (port_ <= 0)
        fail("cannot listen on 127.0.0.1");
    // The library listens with a queue of 5: a client that opens all its
    // connections at once (teloria-batch --jobs 64) would see the rest
    // dropped and retried a second later.
    if (listener >= 0 && ::listen(listener, SOMAXCONN) != 0)
        fail("listen");
    thread_ = std::thread([this] {
        server_.listen_after_bind();
        loopEnded_ = true;
    });
    // The socket listens already, but stop() works only once the accept loop
    // runs: wait for that, or for the loop to have given up.
    while (!server_.is_running() && !loopEnded_)
        std::this_thread::yield();
    if (!server_.is_running()) {
        thread_.join();
        throw std::runtime_error("test server: the accept loop ended at once");
    }
}

TestServer::~TestServer()
{
    server_.stop();
    thread_.join();
}

std::string TestServer::baseUrl() const
{
    return loopbackUrl(port_);
}

std::vector<LoggedRequest> TestServer::requests() const
{
    std::lock_guard lock(mutex_);
    return log_;
}

std::vector<std::string> TestServer::paramValues(const std::string& name) const
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> values;
    values.reserve(log_.size());
    for (const LoggedRequest& r : log_)
        values.push_back(r.param(name));
    return values;
}

HeldPort::HeldPort()
{
    fd_ = boundLoopbackSocket(&port_);
}

HeldPort::~HeldPort()
{
    ::close(fd_);
}

std::string HeldPort::baseUrl() const
{
    return loopbackUrl(port_);
}

SilentServer::SilentServer()
{
    if (::listen(fd_, SOMAXCONN) != 0)
        fail("listen");
}

} // namespace teloria::testing
