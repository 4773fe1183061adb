#pragma once
// Writing data files for the subcommands: the rows in the format the name
// asks for, through the one replacing-file writer (a regular file is replaced
// whole or not at all; a device or a pipe is written in place).

#include "data/prefix_rows.h"

#include <iosfwd>
#include <string>

namespace teloria::cli {

// False with the reason on err ("teloria-data: path: why"); what the format
// cannot hold is said on err as a warning.
bool writeRows(const std::string& path, const data::PrefixRows& rows, std::ostream& err);

} // namespace teloria::cli
