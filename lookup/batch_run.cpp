#include "lookup/batch_run.h"

#include "lookup/fetch_failure.h"
#include "lookup/line_split.h"
#include "lookup/result_table.h"
#include "net/service_url.h"
#include "text/field_extract.h"

#include <QStringList>
#include <algorithm>
#include <vector>

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

QString stoppedMessage(int done, int count, std::uint32_t elapsedMs, QChar decimalPoint)
{
    return QStringLiteral("已停止：完成%1/%2条，耗时").arg(done).arg(count) +
           formatSeconds(elapsedMs, decimalPoint) + QStringLiteral("秒。");
}

QString failureLine(const RunSummary& summary)
{
    if (summary.failed == 0)
        return {};
    QStringList parts;
    for (const QString& reason : summary.reasons)
        parts << reason + QStringLiteral("（%1）").arg(summary.reason_counts.value(reason));
    return QStringLiteral("其中%1条查询失败：").arg(summary.failed) + parts.join(u'；');
}

BatchRun::BatchRun(RunPorts ports, QString serviceBase, QChar decimalPoint, NumberCheck isNumber)
    : ports_(ports), serviceBase_(std::move(serviceBase)), decimalPoint_(decimalPoint),
      isNumber_(std::move(isNumber))
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
    ports_.pump.runStarting();

    // The list is a copy taken before the first pass: a nested run started
    // from the event pump cannot change what this run works through.
    // Numbers are asked as many at a time as the fetcher takes; their rows
    // still come one by one, with the event pump before each, and none is
    // in flight while the pump runs.
    const qsizetype atOnce = std::max(ports_.fetcher.atOnce(), 1);
    std::vector<FetchResult> answers; // for the numbers from `asked` on
    qsizetype asked = 0;
    const FetchResult noAnswer; // for a fetcher that gave fewer answers than URLs
    for (qsizetype i = 0; i < numbers.size(); ++i) {
        if (!ports_.pump.processPending())
            return summary; // the window was closed: touch nothing more
        if (ports_.pump.stopRequested()) {
            summary.stopped = true;
            break;
        }
        if (i - asked >= qsizetype(answers.size())) {
            asked = i;
            QStringList urls;
            for (const QString& number : numbers.mid(i, atOnce))
                urls << lookupUrl(serviceBase_, number);
            answers = ports_.fetcher.fetchAll(urls);
        }
        const qsizetype k = i - asked;
        addRow(numbers.at(i), k < qsizetype(answers.size()) ? answers[std::size_t(k)] : noAnswer, summary);
    }

    // Unsigned subtraction is modulo 2^32, so a counter that wrapped still gives the true time.
    summary.elapsed_ms = ports_.clock.ticks() - start;
    summary.completed = !summary.stopped;
    ports_.pump.drawAll();
    tellTheEnd(summary);
    return summary;
}

void BatchRun::tellTheEnd(const RunSummary& summary)
{
    const QString title = QString::fromUtf16(kRunMessageTitle);
    QString text = summary.stopped
                       ? stoppedMessage(summary.looked_up, summary.count, summary.elapsed_ms, decimalPoint_)
                       : endMessage(summary.elapsed_ms, decimalPoint_);
    const QString failures = failureLine(summary);
    if (failures.isEmpty()) {
        ports_.messages.information(title, text);
        return;
    }
    // The first line stays the sentence of a run that went through; the second tells the failures.
    text += QStringLiteral("\r\n") + failures;
    if (summary.failed == summary.looked_up)
        ports_.messages.warning(title, text);
    else
        ports_.messages.information(title, text);
}

void BatchRun::addRow(const QString& number, const FetchResult& result, RunSummary& summary)
{
    const QString& page = result.text;
    if (page.isEmpty())
        ++summary.empty_pages;

    // Ids are the row count + 1 at the moment of adding: after a clear they start at 1 again.
    ResultTable& table = ports_.table;
    const int row = table.size() + 1;
    table.addRow(QString::number(row));
    table.setSubItem(row, 1, number);
    const QString location = extractField(page, kLocationMarker);
    table.setSubItem(row, 2, location);
    table.setSubItem(row, 3, extractField(page, kCardTypeMarker));
    ++summary.looked_up;

    // The cells stay as the page gave them; the row's state tells how to read them.
    const QString reason = failureReason(result);
    if (!reason.isEmpty()) {
        ++summary.failed;
        if (!summary.reason_counts.contains(reason))
            summary.reasons.append(reason);
        ++summary.reason_counts[reason];
        table.setRowState(row, RowState::Failed, reason);
    } else if (result.status == 400 || (isNumber_ && !isNumber_(number))) {
        ++summary.not_numbers;
        table.setRowState(row, RowState::NotANumber);
    } else if (location == u"未知") {
        ++summary.unknown_prefix;
        table.setRowState(row, RowState::UnknownPrefix);
    }

    // Value + 1 beyond the maximum is refused (possible only when runs overlap).
    if (ports_.progress.value() < ports_.progress.maximum())
        ports_.progress.setValue(ports_.progress.value() + 1);
}

} // namespace teloria
