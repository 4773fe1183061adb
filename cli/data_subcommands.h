#pragma once
// The subcommands of teloria-data. Each takes the arguments after its name
// and returns the exit status: 0 done, 1 failed, 2 bad usage.

#include "command/command_line.h"
#include "data/data_files.h"

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace teloria::cli {

struct DataContext {
    data::DataSettings settings;
    std::ostream& out;
    std::ostream& err;
    // Prints the message and the hint to --help; returns 2.
    std::function<int(const std::string&)> usage;
    // The subcommand's command line, for the options it takes.
    const command::CommandLine& line;
    bool isSet(const char* option) const { return line.isSet(QLatin1String(option)); }
    std::string value(const char* option) const { return line.value(QLatin1String(option)).toStdString(); }
};

// The arguments after the subcommand's name that are not options.
using DataArguments = std::vector<std::string>;

// data_lookup.cpp
int runLookup(const DataArguments& args, DataContext& context);
int runStats(const DataArguments& args, DataContext& context);
// data_file_tools.cpp
int runConvert(const DataArguments& args, DataContext& context);
int runMerge(const DataArguments& args, DataContext& context);
int runCheck(const DataArguments& args, DataContext& context);
// data_learned.cpp
int runExportLearned(const DataArguments& args, DataContext& context);
int runForget(const DataArguments& args, DataContext& context);
// data_info.cpp: every source the programs load, with its kind, prefixes and date
int runInfo(const DataArguments& args, DataContext& context);
// data_update.cpp: update [SOURCE] [--dry-run] [--force] [--rollback]
int runUpdate(const DataArguments& args, DataContext& context);
// data_learn.cpp: learn [--upstream URL] [--segments LIST] [--rate R] [--max N]
int runLearn(const DataArguments& args, DataContext& context);

} // namespace teloria::cli
