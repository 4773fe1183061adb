#pragma once
// A lookup service for the command's tests, on the shared loopback server:
// /sim_search138.asp?mobile=N answers with a page of the test's choosing,
// and the service records what it was asked and answered.

#include "support/test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>
#include <string>
#include <vector>

namespace teloria::testing {

struct Answer {
    std::string body;             // UTF-8
    bool dropConnection = false;  // headers go out, then the connection is closed mid-body
    // Held back until the service has answered this other number: the test
    // decides the order of the answers, whatever the timing.
    std::optional<std::string> after = std::nullopt;
    int status = 200;
};

class LookupServer {
public:
    using Recipe = std::function<Answer(const std::string& mobile)>;

    explicit LookupServer(Recipe recipe)
        : recipe_(std::move(recipe)),
          server_([this](httplib::Server& s) {
              s.Get("/sim_search138.asp", [this](const httplib::Request& req, httplib::Response& res) {
                  answer(req, res);
              });
          })
    {
    }

    std::string baseUrl() const { return server_.baseUrl(); }
    std::vector<std::string> arrived() const { return server_.paramValues("mobile"); }
    std::vector<std::string> answered() const { std::lock_guard l(mutex_); return answered_; }
    int peakInFlight() const { std::lock_guard l(mutex_); return peakInFlight_; }

private:
    void answer(const httplib::Request& req, httplib::Response& res)
    {
        const std::string mobile = req.get_param_value("mobile");
        const Answer answer = recipe_(mobile);
        {
            std::unique_lock lock(mutex_);
            peakInFlight_ = std::max(peakInFlight_, ++inFlight_);
            // Bounded, so that a client that never asks for the other number
            // makes the test fail rather than hang.
            if (answer.after)
                changed_.wait_for(lock, std::chrono::seconds(60),
                                  [&] { return answeredSet_.count(*answer.after) > 0; });
            --inFlight_;
            answered_.push_back(mobile);
            answeredSet_.insert(mobile);
        }
        changed_.notify_all();
        if (answer.dropConnection) {
            res.set_content_provider(answer.body.size() + 100, "text/html; charset=utf-8",
                                     [](size_t, size_t, httplib::DataSink&) { return false; });
            return;
        }
        res.status = answer.status;
        res.set_content(answer.body, "text/html; charset=utf-8");
    }

    Recipe recipe_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> answered_;
    std::set<std::string> answeredSet_;
    int inFlight_ = 0;
    int peakInFlight_ = 0;
    TestServer server_; // last: it stops, and its handlers end, before the members they use go
};

// Like the shared SilentServer, but it takes each connection itself, so that
// it can count how many are open at once. Stopped, and every connection
// closed, by its destructor.
class CountingSilentServer {
public:
    CountingSilentServer()
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listener_, 128) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("CountingSilentServer: cannot listen on loopback");
        port_ = ntohs(addr.sin_port);
        if (::pipe(stop_) != 0)
            throw std::runtime_error("CountingSilentServer: no pipe");
        thread_ = std::thread([this] { acceptLoop(); });
    }
    ~CountingSilentServer()
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

} // namespace teloria::testing
