#pragma once
// The run's ports on a terminal: a progress bar on standard error, the run's
// messages dropped (or printed with --verbose), a monotonic millisecond clock
// and an event pump with nothing to pump.

#include "lookup/run_ports.h"

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace teloria::cli {

class SteadyClock : public TickClock {
public:
    std::uint32_t ticks() override;
};

class NoEvents : public EventPump {
public:
    bool processPending() override { return true; }
};

// Prints each message as one line on the stream, or drops it when the stream is null.
class StreamMessages : public MessageSink {
public:
    explicit StreamMessages(std::FILE* stream) : stream_(stream) {}
    void information(const QString& title, const QString& text) override;
    void warning(const QString& title, const QString& text) override;

private:
    std::FILE* stream_;
};

// "[#######.............]  3120 numbers  1543/s  0:04 left", redrawn in place
// on a terminal at most ten times a second and once at the end. The share
// done is the share of the input read, known when the input is a regular
// file; without it the bar shows the count and the rate only.
class ProgressBar {
public:
    // terminal: where to draw, or null for nothing; inputBytes: -1 when unknown.
    ProgressBar(std::FILE* terminal, std::int64_t inputBytes);
    void update(std::int64_t numbers, std::int64_t bytesRead);
    // Ends the bar's line so that what follows starts on a fresh one.
    void finish();

    // The bar's text for a state; exposed for the tests. fraction < 0: unknown.
    static QString line(std::int64_t done, double fraction, double seconds, int width = 30);

private:
    void draw();

    std::FILE* terminal_;
    std::int64_t inputBytes_;
    std::int64_t numbers_ = 0;
    std::int64_t bytesRead_ = 0;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDraw_{};
};

} // namespace teloria::cli
