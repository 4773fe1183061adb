#pragma once
// Lets clicks, a Stop and repaints through between two numbers of a run, and
// tells the run when its window was closed or a Stop was asked.

#include "lookup/run_ports.h"

#include <QElapsedTimer>

class QWidget;

namespace teloria {

class ResultTable;

class WindowPump : public EventPump {
public:
    static constexpr qint64 kPumpMs = 10;
    static constexpr qint64 kFrameMs = 40; // 25 repaints a second still look live

    // closed and stopAsked are the window's own flags, read at each pass; the
    // rows a run adds to table reach its views at each pass.
    WindowPump(QWidget& window, ResultTable& table, const bool& closed, const bool& stopAsked)
        : window_(window), table_(table), closed_(closed), stopAsked_(stopAsked)
    {
    }

    void runStarting() override { sincePump_.invalidate(); }
    bool processPending() override;
    bool stopRequested() const override { return stopAsked_; }
    void drawAll() override;

private:
    QWidget& window_;
    ResultTable& table_;
    const bool& closed_;
    const bool& stopAsked_;
    QElapsedTimer sincePump_;
    QElapsedTimer sinceRepaint_;
};

} // namespace teloria
