#pragma once
// teloria-data: lookup, stats, convert, merge and check for the people who
// keep prefix files. Exit status: 0 done, 1 failed (a broken file, a number
// that is not one), 2 bad usage.

#include <iosfwd>
#include <string>
#include <vector>

namespace teloria::cli {

// arguments[0] is the program name.
int runDataCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

} // namespace teloria::cli
