#pragma once
// The command line of teloria-batch:
//   teloria-batch [--service URL] [--data FILE]... [--upstream URL] [--jobs N] [--timeout S] [--keep-going]
//                 [--format csv|tsv|jsonl] [--fields LIST] [--no-header]
//                 [--encoding gbk|utf-8] [-o FILE] [FILE|-]

#include "cli/row_format.h"

#include "export/result_file.h"

#include <vector>

#include <QString>
#include <QStringList>
#include <optional>

namespace teloria::cli {

inline constexpr int kMaxJobs = 64;

struct BatchOptions {
    QString serviceUrl;  // empty: TELORIA_SERVICE, else in-process
    int jobs = 1;
    int timeoutSeconds = 30;  // per request
    bool keepGoing = false;   // never give up after failed requests in a row
    OutputFormat format = OutputFormat::Csv;
    std::vector<Field> fields{Field::Id, Field::Number, Field::Location, Field::Card};
    bool header = true;       // tsv: the column names first
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
