#pragma once
// In-memory stand-ins for the run's ports.
#include "lookup/run_ports.h"

#include <QMap>
#include <QStringList>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

namespace teloria::testing {

class FakeFetcher : public PageFetcher {
public:
    QMap<QString, QString> pages;        // by URL, answered with status 200
    QMap<QString, FetchResult> answers;  // by URL, given as they stand
    QStringList requested;
    int blockSize = 1;             // how many URLs the run may hand over at once
    std::vector<qsizetype> blocks; // how many it handed over, call by call
    int atOnce() const override { return blockSize; }
    std::vector<FetchResult> fetchAll(const QStringList& urls) override
    {
        blocks.push_back(urls.size());
        return PageFetcher::fetchAll(urls);
    }
    // A URL listed nowhere: a refused connection.
    FetchResult fetch(const QString& url) override
    {
        requested << url;
        if (const auto it = answers.constFind(url); it != answers.cend())
            return *it;
        FetchResult result;
        if (const auto it = pages.constFind(url); it != pages.cend()) {
            result.ok = true;
            result.status = 200;
            result.text = *it;
            return result;
        }
        result.error = FetchError::Connect;
        result.errorText = QStringLiteral("Couldn't connect to server");
        return result;
    }
};

class FakeClock : public TickClock {
public:
    std::deque<std::uint32_t> readings;
    std::uint32_t ticks() override
    {
        const std::uint32_t t = readings.empty() ? 0 : readings.front();
        if (!readings.empty())
            readings.pop_front();
        return t;
    }
};

class FakeProgress : public ProgressSink {
public:
    int v = 0;
    int max = 100;
    std::vector<std::pair<char, int>> calls; // ('v', value) or ('m', maximum), in order
    int value() const override { return v; }
    int maximum() const override { return max; }
    void setValue(int value) override { calls.emplace_back('v', value); v = value; }
    void setMaximum(int maximum) override { calls.emplace_back('m', maximum); max = maximum; }
};

struct Message {
    QString title;
    QString text;
    bool warning;
};

class FakeMessages : public MessageSink {
public:
    std::vector<Message> shown;
    std::function<void()> onShow; // runs while the "box" is open
    void information(const QString& title, const QString& text) override { show({title, text, false}); }
    void warning(const QString& title, const QString& text) override { show({title, text, true}); }

private:
    void show(Message m)
    {
        shown.push_back(std::move(m));
        if (onShow)
            onShow();
    }
};

class FakePump : public EventPump {
public:
    int passes = 0;
    int starts = 0;
    bool stop = false;
    std::function<bool(int pass)> onPass; // returns false to report the window closed
    void runStarting() override { ++starts; }
    bool processPending() override
    {
        ++passes;
        return onPass ? onPass(passes) : true;
    }
    bool stopRequested() const override { return stop; }
};

} // namespace teloria::testing
