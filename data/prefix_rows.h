#pragma once
// A data file as rows of 7-digit prefixes, each with what the file says about
// it: how `teloria-data` reads, merges and writes phone.dat files and
// override tables. Merging puts a later file over an earlier one with the
// store's own rule (overlayFacts), so a merged file answers as the files
// loaded one over the other do.
//
// What each format holds: a phone.dat record holds province, city, postcode
// and area code, and its entry one card-type byte, 1..8 (中国移动 ...
// 中国广电虚拟运营商); any other card-type name has no byte there. An
// override table holds every field, postcode and area code in two more
// columns.

#include "platform/result.h"
#include "data/prefix_facts.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace teloria::data {

struct PrefixRow {
    std::uint32_t prefix = 0; // 1000000..1999999
    PrefixFacts facts;

    bool operator==(const PrefixRow&) const = default;
};
// For test failures: "1380013 广东|深圳|中国移动|0755|518000".
void PrintTo(const PrefixRow& row, std::ostream* os);
using PrefixRows = std::vector<PrefixRow>; // ascending by prefix, each prefix once

// A phone.dat file or an override table, by the name's extension. A table's
// shorter prefix stands for each 7-digit prefix under it, and a longer one
// goes over it. When the file cannot be used, the error's reason is "path: why".
Result<PrefixRows> readPrefixRows(const std::string& path);

// above over below, prefix by prefix.
PrefixRows overlayRows(const PrefixRows& below, const PrefixRows& above);

// The bytes of a file of the kind path names. What that kind cannot hold goes
// to *lost, one line per kind of loss.
Result<std::string> prefixRowBytes(const std::string& path, const PrefixRows& rows, std::vector<std::string>* lost);

} // namespace teloria::data
