#pragma once
// The teloria-data commands kept in files of their own: info, update and
// learn. Each returns the exit status: 0 done, 1 failed, 2 bad usage.

#include "data/data_files.h"

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace teloria::cli {

// Writes one line to standard error as "teloria-data: MESSAGE" plus the hint, and gives 2.
using UsageError = std::function<int(const std::string&)>;

// Every source the programs load, with its kind, prefixes and date.
int dataInfo(const std::vector<std::string>& args, const data::DataSettings& settings, std::ostream& out,
             std::ostream& err, const UsageError& usage);

// teloria-data update [SOURCE] [--dry-run] [--force] [--rollback]
int dataUpdate(const std::vector<std::string>& args, const data::DataSettings& settings, std::ostream& out,
               std::ostream& err, const UsageError& usage);

// teloria-data learn [--upstream URL] [--segments LIST] [--rate R] [--max N]
int dataLearn(const std::vector<std::string>& args, const data::DataSettings& settings, std::ostream& out,
              std::ostream& err, const UsageError& usage);

} // namespace teloria::cli
