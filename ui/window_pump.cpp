#include "ui/window_pump.h"

#include "lookup/result_table.h"

#include <QCoreApplication>
#include <QWidget>

namespace teloria {

// On loopback a number takes a fraction of a millisecond, and asking the
// window system after each one cost more than the lookups themselves: events
// are delivered at most every kPumpMs (so a click or a Stop is answered within
// that), and the window repaints at most 25 times a second. The first pass of
// a run always delivers what is pending.
bool WindowPump::processPending()
{
    if (closed_)
        return false;
    if (sincePump_.isValid() && sincePump_.elapsed() < kPumpMs)
        return true;
    sincePump_.start();
    const bool repaint = !sinceRepaint_.isValid() || sinceRepaint_.elapsed() >= kFrameMs;
    window_.setUpdatesEnabled(repaint); // enabling it again schedules one whole repaint
    if (repaint)
        sinceRepaint_.start();
    table_.flushViewUpdates(); // a click may act on the list: it holds every row first
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // Held again until the next frame: with drawing allowed, every step of the
    // progress bar between two passes repainted it (and flushed the window) at once.
    if (repaint && !closed_)
        window_.setUpdatesEnabled(false);
    return !closed_;
}

// After the last number: drawing is allowed again and everything the run
// changed is drawn at once, before the end message opens.
void WindowPump::drawAll()
{
    table_.flushViewUpdates();
    window_.setUpdatesEnabled(true);
    sinceRepaint_.invalidate();
    // The list lays out its new rows (on a timer of its own) before the whole window is drawn.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    window_.repaint();
}

} // namespace teloria
