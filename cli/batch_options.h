#pragma once
// The command line of teloria-batch:
//   teloria-batch [--service URL] [--data FILE]... [--upstream URL ...] [--learned FILE | --no-learn]
//                 [--jobs N] [--timeout S] [--keep-going]
//                 [--format csv|tsv|jsonl] [--fields LIST] [--no-header]
//                 [--encoding gbk|utf-8] [-o FILE] [FILE|-]
// read through the programs' one command layer.

#include "cli/row_format.h"

#include "command/command_line.h"
#include "data/data_files.h"
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
    bool inProcess = true;      // no --service, no TELORIA_SERVICE: the lookup runs here
    data::DataSettings local;   // in-process: --data files in order, the learning settings
    bool verbose = false; // the run's start and end texts on standard error
};

struct ParsedCommandLine {
    std::optional<BatchOptions> options; // nothing: exit with status
    int status = 0;                      // --help or --version printed (0), bad usage said (2)
};

// arguments[0] is the program name, as in QCoreApplication::arguments().
// Help, version and usage errors go to streams.
ParsedCommandLine parseCommandLine(const QStringList& arguments, const command::Streams& streams);

} // namespace teloria::cli
