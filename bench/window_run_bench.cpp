// The window's run as a user has it: the window and its bundled lookup
// service in one process, 10,000 numbers pasted, a click on 查询, both boxes
// closed; against a bare libcurl loop (one easy handle per request) asking the
// same service the same URLs. The rounds of the two take turns, so that both
// see the same machine; the medians and their ratio are printed.
// Usage: window_run_bench NUMBERS_FILE [ROUNDS]
// Prints: "window <median s> baseline <median s> ratio <window/baseline>"
#include "service/bundled_service.h"
#include "ui/form1.h"
#include "bench/bare_get.h"
#include "bench/closing_messages.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double baselineSeconds(const std::vector<std::string>& urls, int* failed)
{
    *failed = 0;
    const Clock::time_point start = Clock::now();
    for (const std::string& url : urls) {
        std::string body;
        if (!bench::bareGet(url, body) || body.empty())
            ++*failed;
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s NUMBERS_FILE [ROUNDS]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    QString text = QString::fromUtf8(file.readAll()).trimmed();
    const QStringList numbers = text.split(u'\n');

    QString error;
    const auto service = teloria::BundledService::start(&error);
    if (!service) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::vector<std::string> urls;
    for (const QString& n : numbers)
        urls.push_back((service->baseUrl() + QStringLiteral("/sim_search138.asp?mobile=") + n).toStdString());

    bench::ClosingMessages messages;
    Form1 window(service->baseUrl(), &messages);
    window.show();
    QApplication::processEvents();
    auto* input = window.findChild<QPlainTextEdit*>(QStringLiteral("Text1"));
    auto* query = window.findChild<QPushButton*>(QStringLiteral("Command4"));
    auto* list = window.findChild<QTableView*>(QStringLiteral("ListView1"));
    input->setPlainText(numbers.join(u'\n'));
    QApplication::processEvents();

    int failed = 0;
    baselineSeconds(urls, &failed); // warms the service and the caches for both alike
    std::vector<double> windowTimes, baselineTimes;
    for (int round = 0; round < rounds; ++round) {
        baselineTimes.push_back(baselineSeconds(urls, &failed));
        if (failed) {
            std::fprintf(stderr, "the bare loop saw %d failed requests\n", failed);
            return 1;
        }
        const Clock::time_point clicked = Clock::now();
        query->click(); // the run completes inside the click handler
        windowTimes.push_back(std::chrono::duration<double>(messages.endShown - clicked).count());
        if (list->model()->rowCount() != numbers.size() * (round + 1)) {
            std::fprintf(stderr, "the list holds %d rows\n", list->model()->rowCount());
            return 1;
        }
    }
    const double w = median(windowTimes), b = median(baselineTimes);
    std::printf("window %.3f baseline %.3f ratio %.2f\n", w, b, b > 0 ? w / b : 0.0);
    return 0;
}
