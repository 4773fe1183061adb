#pragma once
// Writing data files for the subcommands: the rows in the format the name
// asks for, through the one replacing-file writer (a regular file is replaced
// whole or not at all; a device or a pipe is written in place).

#include "data/prefix_rows.h"

#include <iosfwd>
#include <memory>
#include <string>

namespace teloria {
class ReplacingFile;
}

namespace teloria::cli {

// The output, opened before any input is read, as every program does: one
// that cannot be created (a folder that does not exist) is bad usage, said on
// err ("teloria-data: cannot write path: why"). Nothing then.
std::unique_ptr<ReplacingFile> openOutput(const std::string& path, std::ostream& err);

// Writes the rows to file, opened by openOutput(path), and commits it. False
// with the reason on err ("teloria-data: path: why"), the target left as it
// was; what the format cannot hold is said on err as a warning.
bool writeRows(ReplacingFile& file, const std::string& path, const data::PrefixRows& rows, std::ostream& err);

} // namespace teloria::cli
