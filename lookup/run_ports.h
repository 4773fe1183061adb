#pragma once
// The narrow interfaces a lookup run talks to. The window adapts its widgets
// to them; the command-line batch and the tests bring their own.

#include "net/ordered_fetcher.h"
#include "net/page_fetch.h"

#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace teloria {

// Synchronous GETs. A result says whether an answer came and with what
// status; its text is the decoded page, empty on any failure. Never throws.
class PageFetcher {
public:
    virtual ~PageFetcher() = default;
    virtual FetchResult fetch(const QString& url) = 0;

    // How many URLs the run hands to fetchAll() at a time.
    virtual int atOnce() const { return 1; }
    // The answers to urls, in their order; here one fetch after the other.
    virtual std::vector<FetchResult> fetchAll(const QStringList& urls)
    {
        std::vector<FetchResult> results;
        results.reserve(std::size_t(urls.size()));
        for (const QString& url : urls)
            results.push_back(fetch(url));
        return results;
    }
};

// The run's GETs: consecutive numbers reuse the fetcher's connections. Still
// one GET per number, on the same URL, with the same page handling; atOnce
// of them are in flight together, each on a connection of its own.
class SessionFetcher : public PageFetcher {
public:
    explicit SessionFetcher(FetchOptions options = {}, int atOnce = 1)
        : fetcher_(atOnce, std::move(options)), atOnce_(std::max(atOnce, 1))
    {
    }
    FetchResult fetch(const QString& url) override { return std::move(fetchAll(QStringList{url}).front()); }
    int atOnce() const override { return atOnce_; }
    std::vector<FetchResult> fetchAll(const QStringList& urls) override
    {
        std::vector<FetchResult> results;
        results.reserve(std::size_t(urls.size()));
        // Every URL is answered: nothing tells this fetcher to stop asking.
        for (std::optional<FetchResult>& answer : fetcher_.fetchAll(urls))
            results.push_back(answer ? std::move(*answer) : FetchResult{});
        return results;
    }

private:
    OrderedFetcher fetcher_;
    int atOnce_;
};

// A millisecond counter that may wrap at 2^32.
class TickClock {
public:
    virtual ~TickClock() = default;
    virtual std::uint32_t ticks() = 0;
};

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual int value() const = 0;
    virtual int maximum() const = 0;
    virtual void setValue(int value) = 0;
    virtual void setMaximum(int maximum) = 0;
};

// Modal message boxes with a single OK button; each call returns once the box is closed.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void information(const QString& title, const QString& text) = 0;
    virtual void warning(const QString& title, const QString& text) = 0;
};

// Lets the user interface handle what is pending (repaints, clicks) between two numbers.
class EventPump {
public:
    virtual ~EventPump() = default;
    // After the start message, before the first number: the next
    // processPending() delivers whatever is pending, however recent the last pass.
    virtual void runStarting() {}
    // False once the window that owns the run has been closed: the run then stops.
    virtual bool processPending() = 0;
    // True once the user asked the runs going to stop: the run ends after the number in hand.
    virtual bool stopRequested() const { return false; }
    // After the last number, before the end message: whatever the run changed
    // is drawn now, so the message opens over the finished list.
    virtual void drawAll() {}
};

} // namespace teloria
