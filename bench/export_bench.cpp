// Writing the result file for a large table: time per save and the peak
// memory the save needs on top of the table.

#include "export/result_file.h"
#include "lookup/result_table.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <array>
#include <fstream>
#include <string>

namespace {

// A table like a real run's: ids, eleven-digit numbers, "province city"
// locations and card types.
void fillTable(teloria::ResultTable& table, int rows)
{
    static const std::array<QString, 8> locations = {
        QStringLiteral("广东 深圳"), QStringLiteral("北京 北京"),   QStringLiteral("四川 成都"),
        QStringLiteral("浙江 杭州"), QStringLiteral("上海 上海"),   QStringLiteral("湖北 武汉"),
        QStringLiteral("黑龙江 哈尔滨"), QStringLiteral("新疆 乌鲁木齐")};
    static const std::array<QString, 5> cardTypes = {
        QStringLiteral("移动全球通卡"), QStringLiteral("移动动感地带卡"), QStringLiteral("联通如意通卡"),
        QStringLiteral("电信天翼卡"), QStringLiteral("移动神州行卡")};
    table.configure();
    for (int i = 0; i < rows; ++i) {
        table.addRow(QString::number(i + 1));
        table.setSubItem(i + 1, 1, QString::number(13800000000LL + i * 7919LL % 100000000LL));
        table.setSubItem(i + 1, 2, locations[i % locations.size()]);
        table.setSubItem(i + 1, 3, cardTypes[i % cardTypes.size()]);
    }
}

// Resident and peak resident memory of this process, in kB, from /proc.
long statusKb(const std::string& key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key + ":", 0) == 0)
            return std::stol(line.substr(key.size() + 1));
    }
    return -1;
}

// Sets the peak resident size back to the current one.
void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

void BM_WriteResultFile(benchmark::State& state, teloria::FileEncoding encoding)
{
    const int rows = static_cast<int>(state.range(0));
    teloria::ResultTable table;
    fillTable(table, rows);
    QTemporaryDir dir;
    const QString path = dir.filePath("1.txt");

    resetPeak();
    const long tableKb = statusKb("VmRSS");
    for (auto _ : state) {
        const teloria::SaveOutcome outcome = teloria::writeResultFile(table, path, encoding);
        if (!outcome.ok) {
            state.SkipWithError(outcome.reason.toStdString().c_str());
            break;
        }
    }
    const long peakKb = statusKb("VmHWM");
    state.counters["rows"] = rows;
    state.counters["file_MB"] = QFile(path).size() / 1e6;
    state.counters["peak_above_table_MB"] = (peakKb - tableKb) / 1024.0;
    state.counters["table_rss_MB"] = tableKb / 1024.0;
}

// For comparison: the whole file's bytes built in memory at once.
void BM_ResultFileBytes(benchmark::State& state)
{
    const int rows = static_cast<int>(state.range(0));
    teloria::ResultTable table;
    fillTable(table, rows);

    resetPeak();
    const long tableKb = statusKb("VmRSS");
    qsizetype size = 0;
    for (auto _ : state) {
        const QByteArray bytes = teloria::resultFileBytes(table);
        size = bytes.size();
        benchmark::DoNotOptimize(bytes.data());
    }
    const long peakKb = statusKb("VmHWM");
    state.counters["rows"] = rows;
    state.counters["file_MB"] = size / 1e6;
    state.counters["peak_above_table_MB"] = (peakKb - tableKb) / 1024.0;
    state.counters["table_rss_MB"] = tableKb / 1024.0;
}

BENCHMARK_CAPTURE(BM_WriteResultFile, gbk, teloria::FileEncoding::Gbk)
    ->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_WriteResultFile, utf8, teloria::FileEncoding::Utf8)
    ->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ResultFileBytes)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
