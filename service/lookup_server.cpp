#include "lookup_server.h"

#include "lookup_page.h"

#include <httplib.h>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace teloria::service {

LookupServer::LookupServer(std::shared_ptr<const LocationResolver> resolver, ServerOptions options)
    : resolver_(std::move(resolver))
    , options_(options)
    , server_(std::make_unique<Server>())
{
    // A client that goes away before its answer is written must not end the process.
    static const bool sigpipeIgnored = [] { return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR; }();
    (void)sigpipeIgnored;
    const std::size_t threads = options_.workerThreads > 0 ? options_.workerThreads : 1;
    server_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    // Accepted sockets inherit TCP_NODELAY from the listening socket; without it a
    // keep-alive client waits for the delayed ACK (about 40 ms) on every answer.
    server_->set_tcp_nodelay(true);
    // SO_REUSEADDR only: the library's default adds SO_REUSEPORT, which would
    // let a second service bind the same port and take half its connections.
    server_->set_socket_options([](socket_t sock) {
        int on = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    });
    server_->set_keep_alive_max_count(options_.keepAliveMaxRequests);
    server_->set_keep_alive_timeout(options_.keepAliveTimeoutSec);
    server_->set_read_timeout(options_.readTimeoutSec, 0);
    server_->set_write_timeout(options_.writeTimeoutSec, 0);
    server_->set_payload_max_length(options_.maxBodyBytes);
    setUpRoutes();
}

LookupServer::~LookupServer()
{
    if (served_) {
        stop();
        if (thread_.joinable())
            thread_.join();
    } else {
        server_->closeUnserved();
    }
}

void LookupServer::Server::closeUnserved()
{
    const socket_t sock = svr_sock_.exchange(INVALID_SOCKET);
    if (sock != INVALID_SOCKET)
        ::close(sock);
}

void LookupServer::setUpRoutes()
{
    using httplib::Request;
    using httplib::Response;
    auto reply = [](Response& res, int status, const std::string& page) {
        res.status = status;
        res.set_content(page, kPageContentType);
    };

    // Other methods: 405 on the lookup path, 404 elsewhere.
    const auto otherMethod = [reply](const Request& req, Response& res) {
        if (req.path == kLookupRoute) {
            reply(res, 405, methodNotAllowedPage());
            res.set_header("Allow", "GET, HEAD");
        } else {
            reply(res, 404, notFoundPage());
        }
    };
    server_->set_pre_routing_handler([this, reply, otherMethod](const Request& req, Response& res) {
        if (req.target.size() > options_.maxTargetBytes) {
            reply(res, 414, tooLongPage());
            return httplib::Server::HandlerResponse::Handled;
        }
        // A request that announces a body goes on to its method's route, where
        // the library reads (or skips) it, so its bytes are never taken for the
        // next request on the connection. Without one it is answered here: the
        // library would otherwise wait for a POST body until the read time-out.
        const bool hasBody = req.has_header("Content-Length") || req.has_header("Transfer-Encoding");
        if (req.method != "GET" && req.method != "HEAD" && !hasBody) {
            otherMethod(req, res);
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server_->Post(".*", otherMethod);
    server_->Put(".*", otherMethod);
    server_->Patch(".*", otherMethod);
    server_->Delete(".*", otherMethod);
    server_->Options(".*", otherMethod);

    // Errors the library answers itself (no route, bad request line, body too
    // large) get a page too, still without the field markers.
    server_->set_error_handler(httplib::Server::HandlerWithResponse([](const Request&, Response& res) {
        if (!res.body.empty())
            return httplib::Server::HandlerResponse::Unhandled;
        switch (res.status) {
        case 404: res.set_content(notFoundPage(), kPageContentType); break;
        case 413: res.set_content(tooLargePage(), kPageContentType); break;
        case 414: res.set_content(tooLongPage(), kPageContentType); break;
        default: return httplib::Server::HandlerResponse::Unhandled;
        }
        return httplib::Server::HandlerResponse::Handled;
    }));

    server_->Get(R"(/sim_search138\.asp)", [this, reply](const Request& req, Response& res) {
        const std::string typed = req.get_param_value("mobile");
        const auto number = typed.size() <= options_.maxNumberBytes ? cleanNumber(typed) : std::nullopt;
        if (!number) {
            reply(res, 400, notANumberPage());
            return;
        }
        reply(res, 200, answerPage(number->digits, resolver_->resolve(*number)));
    });
}

int LookupServer::bind(const std::string& host, int port, std::string* error)
{
    const int bound = port == 0 ? server_->bind_to_any_port(host) : (server_->bind_to_port(host, port) ? port : -1);
    if (bound <= 0) {
        if (error)
            *error = "cannot listen on " + host + ":" + std::to_string(port)
                     + " (address in use, not local, or not an address)";
        return -1;
    }
    port_ = bound;
    return bound;
}

bool LookupServer::serve()
{
    if (port_ <= 0)
        return false;
    served_ = true;
    return server_->listen_after_bind();
}

bool LookupServer::serveInBackground(std::string* error)
{
    if (port_ <= 0) {
        if (error)
            *error = "the server is not bound to a port";
        return false;
    }
    served_ = true;
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        ended_ = true;
    });
    // stop() only takes effect once the accept loop runs, so wait for it to start.
    while (!server_->is_running() && !ended_)
        std::this_thread::yield();
    if (ended_) {
        thread_.join();
        if (error)
            *error = "the server stopped at once";
        return false;
    }
    return true;
}

void LookupServer::stop()
{
    server_->stop();
}

} // namespace teloria::service
