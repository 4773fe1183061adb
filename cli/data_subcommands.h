#pragma once
// The subcommands of teloria-data. Each takes the arguments after its name
// and returns the exit status: 0 done, 1 failed, 2 bad usage.

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
};

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

} // namespace teloria::cli
