#pragma once
// The batch lookup run behind the Query button: one request per input line,
// one result row per number, a progress step per number, and a message before
// and after. It runs to completion on the caller's thread.

#include "lookup/run_ports.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>

namespace teloria {

class ResultTable;

inline constexpr char16_t kRunMessageTitle[] = u"提示：";

struct RunPorts {
    PageFetcher& fetcher;
    TickClock& clock;
    ProgressSink& progress;
    MessageSink& messages;
    EventPump& pump;
    ResultTable& table;
};

// Whether a line is a number the service can answer (the one number cleaner says).
using NumberCheck = std::function<bool(const QString& line)>;

struct RunSummary {
    int count = 0;          // numbers in the input
    int looked_up = 0;      // rows added (fewer than count when stopped or the window closed)
    int empty_pages = 0;    // requests that gave no page
    int failed = 0;         // requests that failed: no answer, or a status outside 2xx (400 aside)
    int not_numbers = 0;    // lines that are not a number the service can answer
    int unknown_prefix = 0; // answered "未知"
    QStringList reasons;    // each distinct failure reason once, in the order first seen
    QHash<QString, int> reason_counts;
    std::uint32_t elapsed_ms = 0;
    bool completed = false; // false when the pump reported the window closed
    bool stopped = false;   // the user stopped the run: looked_up of count were done
};

QString startMessage(int count);
// "耗时" + seconds + "秒查询完毕。", seconds as a plain decimal without trailing zeros.
QString endMessage(std::uint32_t elapsedMs, QChar decimalPoint = u'.');
QString formatSeconds(std::uint32_t elapsedMs, QChar decimalPoint = u'.');
// "已停止：完成" + done + "/" + count + "条，耗时" + seconds + "秒。"
QString stoppedMessage(int done, int count, std::uint32_t elapsedMs, QChar decimalPoint = u'.');
// "其中N条查询失败：reason（n）；reason（n）"; empty when nothing failed.
QString failureLine(const RunSummary& summary);

class BatchRun {
public:
    // isNumber: without one, every line counts as a number.
    BatchRun(RunPorts ports, QString serviceBase, QChar decimalPoint = u'.', NumberCheck isNumber = {});

    // Looks up every number of the input box's text. Lines are split at line
    // breaks; a text ending in a break gives one last, empty number.
    RunSummary run(const QString& inputText);

    // The same over numbers already split.
    RunSummary runNumbers(const QStringList& numbers);

private:
    // One number's row, cells and state from its answer, and a step of the progress bar.
    void addRow(const QString& number, const FetchResult& result, RunSummary& summary);
    void tellTheEnd(const RunSummary& summary);

    RunPorts ports_;
    QString serviceBase_;
    QChar decimalPoint_;
    NumberCheck isNumber_;
};

} // namespace teloria
