#pragma once
// The command line of teloria-batch:
//   teloria-batch [--service URL] [--data FILE]... [--upstream URL] [--jobs N] [--encoding gbk|utf-8] [-o FILE] [FILE|-]

#include "export/result_file.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace teloria::cli {

inline constexpr int kMaxJobs = 64;

struct BatchOptions {
    QString serviceUrl;  // empty: TELORIA_SERVICE, else the bundled service
    int jobs = 1;
    FileEncoding encoding = FileEncoding::Gbk;
    QString outputPath;  // empty: standard output
    QString inputPath;   // empty or "-": standard input
    QStringList dataFiles; // --data FILE, in order: more data for the bundled service
    QString upstreamUrl;   // --upstream URL for the bundled service; empty: TELORIA_UPSTREAM, else none
    bool verbose = false; // the run's start and end texts on standard error
    bool help = false;
    bool version = false;
};

struct ParsedCommandLine {
    std::optional<BatchOptions> options; // nothing when the command line is wrong
    QString error;                       // why, in one line
};

// arguments[0] is the program name, as in QCoreApplication::arguments().
ParsedCommandLine parseCommandLine(const QStringList& arguments);

QString usageText();

} // namespace teloria::cli
