#pragma once
// An override table, the user's own corrections:
//   prefix <TAB> province <TAB> city <TAB> card type [<TAB> postcode <TAB> area code]
// one line each (four fields, or six); prefixes of 3 to 7 digits starting with 1 (a shorter prefix
// covers every 7-digit prefix under it, a longer one wins over it); any of
// the three texts may be empty, and the data below it then stays; lines
// starting with '#' and blank lines are skipped.

#include "platform/result.h"

#include "data/prefix_facts.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace teloria::data {

struct OverrideLine {
    std::string prefix; // 3 to 7 digits
    std::string province;
    std::string city;
    std::string cardType;
    std::string zip;
    std::string areaCode;
    int lineNumber = 0;

    PrefixFacts facts() const { return {province, city, cardType, areaCode, zip}; }

    // The 7-digit prefixes this line covers: [first, first + count).
    std::uint32_t firstPrefix() const;
    std::uint32_t prefixCount() const;
};

struct OverrideTable {
    std::vector<OverrideLine> lines; // shorter prefixes first, then file order; the last line of a prefix only
    std::size_t skippedLines = 0;    // lines whose text was unsafe
    std::string skipReason;          // for the first of them
    std::size_t skipOffset = 0;      // its byte offset

    // Nothing and "line N (byte B): why" in *error for a malformed line.
    static std::optional<OverrideTable> parse(std::string_view text, std::string* error = nullptr,
                                              std::size_t* errorOffset = nullptr);
    // The first line of a table this program writes.
    static std::string header();
};

// Reads a whole regular file of at most 64 MiB; otherwise the reason: a pipe,
// a device or a folder is Refused without being opened, a missing file is
// NotFound, a larger one BadInput, a failed open or read Io.
Result<std::string> readDataFile(const std::string& path);

} // namespace teloria::data
