#pragma once
// A lookup service on 127.0.0.1 for the command's tests: a real cpp-httplib
// server on a free port that answers /sim_search138.asp?mobile=N with a page
// of the test's choosing, and records what it was asked.

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace teloria::testing {

struct Answer {
    std::string body;             // UTF-8
    int delayMs = 0;              // held back this long before answering
    bool dropConnection = false;  // headers go out, then the connection is closed mid-body
    int status = 200;
};

class LookupServer {
public:
    using Recipe = std::function<Answer(const std::string& mobile)>;

    explicit LookupServer(Recipe recipe) : recipe_(std::move(recipe))
    {
        server_.Get("/sim_search138.asp", [this](const httplib::Request& req, httplib::Response& res) {
            const std::string mobile = req.get_param_value("mobile");
            const Answer answer = recipe_(mobile);
            {
                std::lock_guard lock(mutex_);
                arrived_.push_back(mobile);
                peakInFlight_ = std::max(peakInFlight_, ++inFlight_);
            }
            if (answer.delayMs > 0) {
                // A bounded wait that nothing signals: the answer's delay.
                std::unique_lock lock(mutex_);
                delay_.wait_for(lock, std::chrono::milliseconds(answer.delayMs), [] { return false; });
            }
            {
                std::lock_guard lock(mutex_);
                --inFlight_;
                answered_.push_back(mobile);
            }
            if (answer.dropConnection) {
                res.set_content_provider(
                    answer.body.size() + 100, "text/html; charset=utf-8",
                    [](size_t, size_t, httplib::DataSink&) { return false; });
                return;
            }
            res.status = answer.status;
            res.set_content(answer.body, "text/html; charset=utf-8");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // The socket already listens; wait only so that stop() cannot come first.
        while (!server_.is_running())
            std::this_thread::yield();
    }

    ~LookupServer()
    {
        server_.stop();
        thread_.join();
    }

    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::vector<std::string> arrived() const { std::lock_guard l(mutex_); return arrived_; }
    std::vector<std::string> answered() const { std::lock_guard l(mutex_); return answered_; }
    int peakInFlight() const { std::lock_guard l(mutex_); return peakInFlight_; }

private:
    Recipe recipe_;
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable delay_;
    std::vector<std::string> arrived_;
    std::vector<std::string> answered_;
    int inFlight_ = 0;
    int peakInFlight_ = 0;
};

// A service that accepts every connection and never answers; it counts the
// connections open at once. Stopped (and every connection closed) by its destructor.
class SilentServer {
public:
    SilentServer()
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listener_, 128) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("SilentServer: cannot listen on loopback");
        port_ = ntohs(addr.sin_port);
        if (::pipe(stop_) != 0)
            throw std::runtime_error("SilentServer: no pipe");
        thread_ = std::thread([this] { acceptLoop(); });
    }
    ~SilentServer()
    {
        const char byte = 0;
        (void)!::write(stop_[1], &byte, 1);
        thread_.join();
        for (const int fd : open_)
            ::close(fd);
        ::close(listener_);
        ::close(stop_[0]);
        ::close(stop_[1]);
    }
    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::size_t peakOpen() const { std::lock_guard l(mutex_); return peak_; }

private:
    void acceptLoop()
    {
        for (;;) {
            pollfd fds[2] = {{listener_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN))
                return;
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0)
                continue;
            std::lock_guard l(mutex_);
            open_.push_back(fd);
            // A connection the client gave up on reads as closed: it no longer counts.
            std::erase_if(open_, [](int c) {
                pollfd p{c, POLLIN, 0};
                char b;
                if (::poll(&p, 1, 0) > 0 && ::recv(c, &b, 1, MSG_PEEK | MSG_DONTWAIT) == 0) {
                    ::close(c);
                    return true;
                }
                return false;
            });
            peak_ = std::max(peak_, open_.size());
        }
    }

    int listener_ = -1;
    int port_ = 0;
    int stop_[2] = {-1, -1};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<int> open_;
    std::size_t peak_ = 0;
};

// A port on loopback that nothing listens on: bound, then released.
inline int closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

} // namespace teloria::testing
