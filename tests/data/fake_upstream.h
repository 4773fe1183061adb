#pragma once
// An online lookup service on 127.0.0.1 for the learning tests: a real
// cpp-httplib server on a free port that answers /sim_search138.asp?mobile=N
// with a reply of the test's choosing, counts what it is asked, and can hold
// replies back until the test opens its gate.

#include "lookup/text_codec.h"

#include <httplib.h>

#include <QString>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace teloria::testing {

struct Reply {
    int status = 200;
    std::string contentType = "text/html; charset=GBK";
    std::string body;      // bytes as sent
    std::string location;  // a Location header (with a 302 status)
    bool gated = false;    // held back until openGate()
    std::chrono::milliseconds delay{0}; // the upstream's own latency
};

// The page the real service gives, GBK-encoded.
inline std::string gbkPage(const QString& location, const QString& cardType)
{
    const QString page = QStringLiteral("<html><body>手机号码：<br/>归属地：") + location
        + QStringLiteral("<br/>卡类型：") + cardType + QStringLiteral("<br/></body></html>");
    return encodeGbk(page).toStdString();
}

class FakeUpstream {
public:
    using Recipe = std::function<Reply(const std::string& mobile)>;

    explicit FakeUpstream(Recipe recipe) : recipe_(std::move(recipe))
    {
        server_.Get("/sim_search138.asp", [this](const httplib::Request& req, httplib::Response& res) {
            const std::string mobile = req.get_param_value("mobile");
            const Reply reply = recipe_(mobile);
            {
                std::lock_guard lock(mutex_);
                asked_.push_back(mobile);
                peakInFlight_ = std::max(peakInFlight_, ++inFlight_);
            }
            changed_.notify_all();
            if (reply.gated) {
                std::unique_lock lock(mutex_);
                // Bounded, so that a failing test cannot leave the server hanging.
                changed_.wait_for(lock, std::chrono::seconds(30), [this] { return gateOpen_; });
            }
            if (reply.delay.count() > 0) {
                // A bounded wait that nothing signals: the reply's latency.
                std::unique_lock lock(mutex_);
                latency_.wait_for(lock, reply.delay, [] { return false; });
            }
            {
                std::lock_guard lock(mutex_);
                --inFlight_;
            }
            res.status = reply.status;
            if (!reply.location.empty())
                res.set_header("Location", reply.location);
            res.set_content(reply.body, reply.contentType);
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running())
            std::this_thread::yield();
    }

    ~FakeUpstream() { stop(); }

    void stop()
    {
        openGate();
        if (thread_.joinable()) {
            server_.stop();
            thread_.join();
        }
    }

    void openGate()
    {
        {
            std::lock_guard lock(mutex_);
            gateOpen_ = true;
        }
        changed_.notify_all();
    }

    // Waits until n requests have arrived; false after 30 s.
    bool waitForRequests(std::size_t n)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return asked_.size() >= n; });
    }

    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::vector<std::string> asked() const { std::lock_guard l(mutex_); return asked_; }
    int peakInFlight() const { std::lock_guard l(mutex_); return peakInFlight_; }

private:
    Recipe recipe_;
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::condition_variable latency_;
    std::vector<std::string> asked_;
    int inFlight_ = 0;
    int peakInFlight_ = 0;
    bool gateOpen_ = false;
};

} // namespace teloria::testing
