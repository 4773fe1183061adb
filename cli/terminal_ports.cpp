#include "cli/terminal_ports.h"

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

ProgressBar::ProgressBar(std::FILE* terminal, std::int64_t inputBytes)
    : terminal_(terminal), inputBytes_(inputBytes)
{
}

void ProgressBar::update(std::int64_t numbers, std::int64_t bytesRead)
{
    numbers_ = numbers;
    bytesRead_ = bytesRead;
    if (!terminal_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!drawn_ || now - lastDraw_ >= std::chrono::milliseconds(100)) {
        lastDraw_ = now;
        draw();
    }
}

void ProgressBar::draw()
{
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double fraction = inputBytes_ > 0 ? double(bytesRead_) / double(inputBytes_) : (inputBytes_ == 0 ? 1.0 : -1.0);
    const QByteArray text = line(numbers_, fraction, seconds).toUtf8();
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

QString ProgressBar::line(std::int64_t done, double fraction, double seconds, int width)
{
    const double rate = seconds > 0 ? double(done) / seconds : 0.0;
    QString text = QStringLiteral("%1 %2  %3/s")
                       .arg(done)
                       .arg(done == 1 ? QStringLiteral("number") : QStringLiteral("numbers"))
                       .arg(static_cast<long long>(std::lround(rate)));
    if (fraction < 0)
        return text;
    fraction = std::clamp(fraction, 0.0, 1.0);
    const int filled = static_cast<int>(std::lround(fraction * width));
    const QString bar = QStringLiteral("[") + QString(filled, u'#') + QString(width - filled, u'.') +
                        QStringLiteral("]");
    QString left = QStringLiteral("--:--");
    if (fraction > 0 && seconds > 0) {
        const auto remaining = static_cast<long long>(std::ceil(seconds * (1.0 - fraction) / fraction));
        left = QStringLiteral("%1:%2").arg(remaining / 60).arg(remaining % 60, 2, 10, QLatin1Char('0'));
    }
    return bar + QLatin1Char(' ') + text + QStringLiteral("  ") + left + QStringLiteral(" left");
}

} // namespace teloria::cli
