#pragma once
// The run's ports on a terminal: a progress bar on standard error, the run's
// messages dropped (or printed with --verbose), a monotonic millisecond clock
// and an event pump with nothing to pump.

#include "lookup/run_ports.h"

#include <chrono>
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

// "[#######.............]  3120/10000  1543/s  0:04 left", redrawn in place
// on a terminal at most ten times a second and once at the end. With a null
// stream it only keeps the value.
class ProgressBar : public ProgressSink {
public:
    explicit ProgressBar(std::FILE* terminal) : terminal_(terminal) {}
    int value() const override { return value_; }
    int maximum() const override { return maximum_; }
    void setValue(int value) override;
    void setMaximum(int maximum) override;
    // Ends the bar's line so that what follows starts on a fresh one.
    void finish();

    // The bar's text for a state; exposed for the tests.
    static QString line(int done, int total, double seconds, int width = 30);

private:
    void draw();

    std::FILE* terminal_;
    int value_ = 0;
    int maximum_ = 100;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDraw_{};
};

} // namespace teloria::cli
