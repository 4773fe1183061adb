// The figures of the window's further commands, one job per process so that
// each peak memory is its own:
//   window_tools_bench import FILE      the window imports FILE (text or xlsx) until its input box holds it
//   window_tools_bench make-xlsx N FILE writes N numbers under a header as a workbook (the input of the above)
//   window_tools_bench stats N          the statistics of N rows
//   window_tools_bench save-xlsx N FILE save as XLSX of N rows
// Prints: "<seconds> <peak-rss-kB> <count>", and for an import the window's longest stall in seconds
#include "export/result_export.h"
#include "lookup/result_summary.h"
#include "lookup/result_table.h"
#include "ui/form1.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QTimer>
#include <curl/curl.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

long peakKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

double since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class QuietMessages : public teloria::MessageSink {
public:
    void information(const QString&, const QString&) override {}
    void warning(const QString&, const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
};

// N rows as a run leaves them: 34 provinces, a few card types.
void fill(teloria::ResultTable& table, int n)
{
    static const char16_t* const provinces[] = {u"北京 北京", u"广东 广州", u"广东 深圳", u"上海 上海", u"浙江 杭州",
                                                 u"江苏 南京", u"四川 成都", u"湖北 武汉", u"未知"};
    static const char16_t* const cards[] = {u"中国移动", u"中国联通", u"中国电信", u"中国广电"};
    table.configure();
    for (int i = 1; i <= n; ++i) {
        table.addRow(QString::number(i));
        table.setSubItem(i, 1, QStringLiteral("138%1").arg(i, 8, 10, QChar(u'0')));
        const QString place = QString::fromUtf16(provinces[i % 9]);
        table.setSubItem(i, 2, place);
        table.setSubItem(i, 3, QString::fromUtf16(cards[i % 4]));
        if (place == u"未知")
            table.setRowState(i, teloria::RowState::UnknownPrefix);
    }
}

int usage(const char* self)
{
    std::fprintf(stderr, "usage: %s import FILE | make-xlsx N FILE | stats N | save-xlsx N FILE\n", self);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return usage(argv[0]);
    const std::string job = argv[1];
    if (job == "make-xlsx" && argc == 4) {
        const int n = std::atoi(argv[2]);
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        lxw_workbook* book = workbook_new_opt(argv[3], &options);
        lxw_worksheet* sheet = workbook_add_worksheet(book, nullptr);
        worksheet_write_string(sheet, 0, 0, "姓名", nullptr);
        worksheet_write_string(sheet, 0, 1, "手机", nullptr);
        for (int i = 1; i <= n; ++i) {
            worksheet_write_string(sheet, i, 0, ("客户" + std::to_string(i)).c_str(), nullptr);
            worksheet_write_number(sheet, i, 1, 13800000000.0 + i, nullptr);
        }
        return workbook_close(book) == LXW_NO_ERROR ? 0 : 1;
    }

    qputenv("QT_QPA_PLATFORM", "offscreen");
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QApplication app(argc, argv);

    if (job == "import") {
        QuietMessages messages;
        Form1 window(QStringLiteral("http://127.0.0.1:9"), &messages);
        window.show();
        QApplication::processEvents();
        auto* input = window.findChild<QPlainTextEdit*>(QStringLiteral("Text1"));
        QEventLoop loop;
        QObject::connect(&window, &Form1::importDone, &loop, &QEventLoop::quit);
        // The window's longest stall meanwhile: the most time between two ticks of a 5 ms timer.
        QTimer ticks;
        Clock::time_point lastTick = Clock::now();
        double longestStall = 0;
        QObject::connect(&ticks, &QTimer::timeout, [&] {
            const Clock::time_point now = Clock::now();
            longestStall = std::max(longestStall, std::chrono::duration<double>(now - lastTick).count());
            lastTick = now;
        });
        ticks.start(5);
        const Clock::time_point start = Clock::now();
        window.importFile(QString::fromLocal8Bit(argv[2]));
        loop.exec();
        QApplication::processEvents(); // the input box draws its new text
        longestStall = std::max(longestStall, since(lastTick));
        const double seconds = since(start);
        std::printf("%.3f %ld %d %.3f\n", seconds, peakKb(), input->document()->blockCount(), longestStall);
        return 0;
    }
    if (job == "stats") {
        teloria::ResultTable table;
        fill(table, std::atoi(argv[2]));
        const Clock::time_point start = Clock::now();
        const teloria::ResultSummary summary = teloria::summarise(table);
        std::printf("%.3f %ld %d\n", since(start), peakKb(), summary.rows);
        return 0;
    }
    if (job == "save-xlsx" && argc == 4) {
        teloria::ResultTable table;
        fill(table, std::atoi(argv[2]));
        const Clock::time_point start = Clock::now();
        const teloria::SaveOutcome outcome =
            teloria::exportResults(table, QString::fromLocal8Bit(argv[3]), teloria::ExportFormat::Xlsx);
        if (!outcome.ok) {
            std::fprintf(stderr, "%s\n", qPrintable(outcome.reason));
            return 1;
        }
        std::printf("%.3f %ld %d\n", since(start), peakKb(), table.rowCount());
        return 0;
    }
    return usage(argv[0]);
}
