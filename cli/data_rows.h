#pragma once
// Data files as 7-digit rows, for the subcommands that read and write them.

#include "data/phone_dat.h"

#include <optional>
#include <string>
#include <vector>

namespace teloria::cli {

using Rows = std::vector<data::PhoneDat::Row>;

bool isTsv(const std::string& path);

// Any data file as 7-digit rows, in ascending prefix order for a phone.dat,
// file order (shorter prefixes first) for a table.
std::optional<Rows> readRows(const std::string& path, std::string* error);
// The bytes of a file of path's kind.
std::optional<std::string> rowBytes(const std::string& path, Rows rows, std::string* error);
// Written to a temporary file and renamed over path, so a reader never sees half a file.
bool writeRows(const std::string& path, Rows rows, std::string* error);

} // namespace teloria::cli
