#pragma once
// The batch lookup run behind the Query button: one request per input line,
// one result row per number, a progress step per number, and a message before
// and after. It runs to completion on the caller's thread.

#include "lookup/run_ports.h"

#include <QString>

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

struct RunSummary {
    int count = 0;          // numbers in the input
    int looked_up = 0;      // rows added (fewer than count when the window closed mid-run)
    int empty_pages = 0;    // requests that gave no page
    std::uint32_t elapsed_ms = 0;
    bool completed = false; // false when the pump reported the window closed
};

QString startMessage(int count);
// "耗时" + seconds + "秒查询完毕。", seconds as a plain decimal without trailing zeros.
QString endMessage(std::uint32_t elapsedMs, QChar decimalPoint = u'.');
QString formatSeconds(std::uint32_t elapsedMs, QChar decimalPoint = u'.');

class BatchRun {
public:
    BatchRun(RunPorts ports, QString serviceBase, QChar decimalPoint = u'.');

    // Looks up every number of the input box's text. Lines are split at line
    // breaks; a text ending in a break gives one last, empty number.
    RunSummary run(const QString& inputText);

    // The same over numbers already split (the command-line batch).
    RunSummary runNumbers(const QStringList& numbers);

private:
    void lookUpOne(const QString& number, RunSummary& summary);

    RunPorts ports_;
    QString serviceBase_;
    QChar decimalPoint_;
};

} // namespace teloria
