#pragma once
// A lookup service for the command's tests, on the shared loopback server:
// /sim_search138.asp?mobile=N answers with a page of the test's choosing,
// and the service records what it was asked and answered.

#include "support/test_server.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace teloria::testing {

struct Answer {
    std::string body;             // UTF-8
    bool dropConnection = false;  // headers go out, then the connection is closed mid-body
    // Held back until the service has answered this other number: the test
    // decides the order of the answers, whatever the timing.
    std::optional<std::string> after = std::nullopt;
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

} // namespace teloria::testing
