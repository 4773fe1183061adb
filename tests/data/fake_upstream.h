#pragma once
// An online lookup service on 127.0.0.1 for the learning tests, on the shared
// test server: it answers /sim_search138.asp?mobile=N with a reply of the
// test's choosing, counts what it is asked, and can hold replies back until
// the test opens its gate.

#include "text/text_codec.h"
#include "support/test_server.h"

#include <httplib.h>

#include <QString>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
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

// The shared loopback test server with one route, /sim_search138.asp.
class FakeUpstream {
public:
    using Recipe = std::function<Reply(const std::string& mobile)>;

    explicit FakeUpstream(Recipe recipe) : recipe_(std::move(recipe))
    {
        server_ = std::make_unique<TestServer>([this](httplib::Server& s) {
            s.Get("/sim_search138.asp", [this](const httplib::Request& req, httplib::Response& res) {
                answer(req.get_param_value("mobile"), res);
            });
        });
        baseUrl_ = server_->baseUrl();
    }

    ~FakeUpstream() { stop(); }

    // Closes the port: later requests are refused. The requests seen stay counted.
    void stop()
    {
        openGate();
        if (server_) {
            asked_ = server_->paramValues("mobile");
            server_.reset();
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
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return arrived_ >= n; });
    }

    std::string baseUrl() const { return baseUrl_; }
    // The "mobile" value of every request, in arrival order.
    std::vector<std::string> asked() const { return server_ ? server_->paramValues("mobile") : asked_; }
    int peakInFlight() const { std::lock_guard l(mutex_); return peakInFlight_; }

private:
    void answer(const std::string& mobile, httplib::Response& res)
    {
        const Reply reply = recipe_(mobile);
        {
            std::lock_guard lock(mutex_);
            ++arrived_;
            peakInFlight_ = std::max(peakInFlight_, ++inFlight_);
        }
        changed_.notify_all();
        {
            std::unique_lock lock(mutex_);
            if (reply.gated) // bounded, so that a failing test cannot leave the server hanging
                changed_.wait_for(lock, std::chrono::seconds(30), [this] { return gateOpen_; });
            if (reply.delay.count() > 0) // a bounded wait that nothing signals: the reply's latency
                latency_.wait_for(lock, reply.delay, [] { return false; });
            --inFlight_;
        }
        res.status = reply.status;
        if (!reply.location.empty())
            res.set_header("Location", reply.location);
        res.set_content(reply.body, reply.contentType);
    }

    Recipe recipe_;
    std::unique_ptr<TestServer> server_;
    std::string baseUrl_;
    std::vector<std::string> asked_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::condition_variable latency_;
    std::size_t arrived_ = 0;
    int inFlight_ = 0;
    int peakInFlight_ = 0;
    bool gateOpen_ = false;
};

} // namespace teloria::testing
