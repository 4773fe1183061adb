#pragma once
// The narrow interfaces a lookup run talks to. The window adapts its widgets
// to them; the command-line batch and the tests bring their own.

#include <QString>
#include <cstdint>

namespace teloria {

// One synchronous GET; the page as text, empty text on any failure. Never throws.
class PageFetcher {
public:
    virtual ~PageFetcher() = default;
    virtual QString fetch(const QString& url) = 0;
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
    // False once the window that owns the run has been closed: the run then stops.
    virtual bool processPending() = 0;
    // After the last number, before the end message: whatever the run changed
    // is drawn now, so the message opens over the finished list.
    virtual void drawAll() {}
};

} // namespace teloria
