#pragma once
// Lets clicks, a Stop and repaints through between two numbers of a run, and
// tells the run when its window was closed or a Stop was asked.

#include "lookup/run_ports.h"

#include <QElapsedTimer>

class QWidget;

namespace teloria {

class WindowPump : public EventPump {
public:
    static constexpr qint64 kPumpMs = 10;
    static constexpr qint64 kFrameMs = 40; // 25 repaints a second still look live

    // closed and stopAsked are the window's own flags, read at each pass.
    WindowPump(QWidget& window, const bool& closed, const bool& stopAsked)
        : window_(window), closed_(closed), stopAsked_(stopAsked)
    {
    }

    void runStarting() override { sincePump_.invalidate(); }
    bool processPending() override;
    bool stopRequested() const override { return stopAsked_; }
    void drawAll() override;

private:
    QWidget& window_;
    const bool& closed_;
    const bool& stopAsked_;
    QElapsedTimer sincePump_;
    QElapsedTimer sinceRepaint_;
};

} // namespace teloria
