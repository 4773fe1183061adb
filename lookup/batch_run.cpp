#include "lookup/batch_run.h"

#include "text/field_extract.h"
#include "lookup/line_split.h"
#include "lookup/result_table.h"
#include "net/service_url.h"

#include <QStringList>

namespace teloria {

QString formatSeconds(std::uint32_t elapsedMs, QChar decimalPoint)
{
    QString text = QString::number(elapsedMs / 1000);
    const std::uint32_t millis = elapsedMs % 1000;
    if (millis != 0) {
        QString fraction = QStringLiteral("%1").arg(millis, 3, 10, QLatin1Char('0'));
        while (fraction.endsWith(u'0'))
            fraction.chop(1);
        text += decimalPoint;
        text += fraction;
    }
    return text;
}

QString startMessage(int count)
{
    return QStringLiteral("共") + QString::number(count) + QStringLiteral("条数据，") +
           QStringLiteral("查询即将开始。");
}

QString endMessage(std::uint32_t elapsedMs, QChar decimalPoint)
{
    return QStringLiteral("耗时") + formatSeconds(elapsedMs, decimalPoint) +
           QStringLiteral("秒查询完毕。");
}

BatchRun::BatchRun(RunPorts ports, QString serviceBase, QChar decimalPoint)
    : ports_(ports), serviceBase_(std::move(serviceBase)), decimalPoint_(decimalPoint)
{
}

RunSummary BatchRun::run(const QString& inputText)
{
    return runNumbers(splitLines(inputText, TrailingBreak::KeepEmptyLast));
}

RunSummary BatchRun::runNumbers(const QStringList& numbers)
{
    RunSummary summary;
    const QString title = QString::fromUtf16(kRunMessageTitle);
    // The start tick is read before the start message, so the time the
    // message stays open counts in the elapsed time the user is shown.
    const std::uint32_t start = ports_.clock.ticks();
    summary.count = static_cast<int>(numbers.size());

    ports_.progress.setValue(0);
    // A maximum of 0 would turn a progress bar into a busy indicator: keep the old one.
    if (summary.count > 0)
        ports_.progress.setMaximum(summary.count);
    ports_.messages.information(title, startMessage(summary.count));

    // The list is a copy taken before the first pass: a nested run started
    // from the event pump cannot change what this run works through.
    for (const QString& number : numbers) {
        if (!ports_.pump.processPending())
            return summary; // the window was closed: touch nothing more
        lookUpOne(number, summary);
    }

    // Unsigned subtraction is modulo 2^32, so a counter that wrapped still gives the true time.
    summary.elapsed_ms = ports_.clock.ticks() - start;
    summary.completed = true;
    ports_.pump.drawAll();
    ports_.messages.information(title, endMessage(summary.elapsed_ms, decimalPoint_));
    return summary;
}

void BatchRun::lookUpOne(const QString& number, RunSummary& summary)
{
    const QString page = ports_.fetcher.fetch(lookupUrl(serviceBase_, number));
    if (page.isEmpty())
        ++summary.empty_pages;

    // Ids are the row count + 1 at the moment of adding: after a clear they start at 1 again.
    ResultTable& table = ports_.table;
    const int row = table.rowCount() + 1;
    table.addRow(QString::number(row));
    table.setSubItem(row, 1, number);
    table.setSubItem(row, 2, extractField(page, kLocationMarker));
    table.setSubItem(row, 3, extractField(page, kCardTypeMarker));
    ++summary.looked_up;

    // Value + 1 beyond the maximum is refused (possible only when runs overlap).
    if (ports_.progress.value() < ports_.progress.maximum())
        ports_.progress.setValue(ports_.progress.value() + 1);
}

} // namespace teloria
