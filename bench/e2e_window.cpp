// The window's own run, offscreen: the numbers pasted into Text1, a click on
// Command4, both message boxes closed through the window's message port.
// Times the run from the click to the end message and reads the process's
// peak memory once the list holds every row.
// Usage: e2e_window BASE_URL NUMBERS_FILE
// Prints: "<rows> <seconds> <peak-rss-kB> <rss-before-kB>"
#include "ui/form1.h"
#include "bench/closing_messages.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

long statusKb(const char* field)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::strlen(field)));
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s BASE_URL NUMBERS_FILE\n", argv[0]);
        return 2;
    }
    QFile file(QString::fromLocal8Bit(argv[2]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 2;
    }
    // Pasted as the user would: one number per line, no break after the last.
    QString text = QString::fromUtf8(file.readAll());
    while (text.endsWith(u'\n') || text.endsWith(u'\r'))
        text.chop(1);

    bench::ClosingMessages messages;
    Form1 window(QString::fromLocal8Bit(argv[1]), &messages);
    window.show();
    QApplication::processEvents();
    auto* input = window.findChild<QPlainTextEdit*>(QStringLiteral("Text1"));
    auto* query = window.findChild<QPushButton*>(QStringLiteral("Command4"));
    auto* list = window.findChild<QTableView*>(QStringLiteral("ListView1"));
    if (!input || !query || !list) {
        std::fprintf(stderr, "the window lacks Text1, Command4 or ListView1\n");
        return 1;
    }
    input->setPlainText(text);
    text.clear();
    QApplication::processEvents();
    const long before = statusKb("VmRSS:");

    const Clock::time_point clicked = Clock::now();
    query->click(); // the run completes inside the click handler
    if (messages.shown != 2) {
        std::fprintf(stderr, "expected two messages, saw %d\n", messages.shown);
        return 1;
    }
    QApplication::processEvents(); // the list repaints with every row in it
    const double seconds = std::chrono::duration<double>(messages.endShown - clicked).count();
    std::printf("%d %.3f %ld %ld\n", list->model()->rowCount(), seconds, statusKb("VmHWM:"), before);
    return 0;
}
