#include "terminal_ports.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cmath>

namespace teloria::cli {

std::uint32_t SteadyClock::ticks()
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(ms); // wraps like a tick counter; the run subtracts modulo 2^32
}

void StreamMessages::information(const QString& title, const QString& text)
{
    if (stream_)
        std::fprintf(stream_, "%s %s\n", title.toLocal8Bit().constData(), text.toLocal8Bit().constData());
}

void StreamMessages::warning(const QString& title, const QString& text)
{
    information(title, text);
}

void ProgressBar::setMaximum(int maximum)
{
    maximum_ = maximum;
    start_ = std::chrono::steady_clock::now();
}

void ProgressBar::setValue(int value)
{
    value_ = value;
    if (!terminal_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (value_ == maximum_ || !drawn_ || now - lastDraw_ >= std::chrono::milliseconds(100)) {
        lastDraw_ = now;
        draw();
    }
}

void ProgressBar::draw()
{
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const QByteArray text = line(value_, maximum_, seconds).toUtf8();
    // \r back to the line's start, \x1b[K clears what a longer earlier line left.
    std::fprintf(terminal_, "\r%s\x1b[K", text.constData());
    std::fflush(terminal_);
    drawn_ = true;
}

void ProgressBar::finish()
{
    if (terminal_ && drawn_) {
        draw();
        std::fputc('\n', terminal_);
        std::fflush(terminal_);
        drawn_ = false;
    }
}

QString ProgressBar::line(int done, int total, double seconds, int width)
{
    const double fraction = total > 0 ? std::clamp(double(done) / total, 0.0, 1.0) : 0.0;
    const int filled = static_cast<int>(std::lround(fraction * width));
    QString bar = QStringLiteral("[") + QString(filled, u'#') + QString(width - filled, u'.') +
                  QStringLiteral("]");
    const double rate = seconds > 0 ? done / seconds : 0.0;
    QString left = QStringLiteral("--:--");
    if (rate > 0 && done <= total) {
        const auto remaining = static_cast<long long>(std::ceil((total - done) / rate));
        left = QStringLiteral("%1:%2").arg(remaining / 60).arg(remaining % 60, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1 %2/%3  %4/s  %5 left")
        .arg(bar)
        .arg(done)
        .arg(total)
        .arg(static_cast<long long>(std::lround(rate)))
        .arg(left);
}

} // namespace teloria::cli
