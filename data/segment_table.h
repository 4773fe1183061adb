#pragma once
// The operator of each mobile number segment, read from the segment table
// kept in data/segments.tsv and compiled into the binary. A 3-digit line
// (130) or a 4-digit one (1349) covers 11-digit numbers; a 5-digit line
// (10648) covers the 13-digit machine-to-machine numbers starting with it.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace teloria::data {

class SegmentTable {
public:
    // Reads the table text: "# comment" and blank lines are skipped, every
    // other line is a 3- or 4-digit prefix starting with 1, a tab, the
    // operator's name. A prefix given twice, a bad prefix or an empty name
    // is refused with the line number in *error.
    static std::optional<SegmentTable> parse(std::string_view text, std::string* error = nullptr);

    // The table compiled into the binary.
    static const SegmentTable& builtIn();

    // The operator of an 11-digit mobile number (only its first 4 digits are
    // read); empty when no line covers it. A 4-digit line wins over the
    // 3-digit line of its segment.
    std::string_view operatorOf(std::string_view mobileDigits) const;

    // The operator of a 13-digit machine-to-machine number (10 64x…, 14 40x…),
    // from the table's 5-digit lines; empty when no line covers it.
    std::string_view iotOperatorOf(std::string_view digits13) const;

    std::size_t lineCount() const { return lines_; }
    // The "# date: YYYY-MM-DD" comment of the table: when its facts were
    // taken; empty when it has none.
    const std::string& date() const { return date_; }

private:
    SegmentTable() { byPrefix_.fill(-1); }

    std::vector<std::string> names_;
    std::array<std::int16_t, 10000> byPrefix_{}; // 4-digit prefix -> index in names_, -1 unknown
    std::map<int, std::int16_t> iot_;               // 5-digit prefix of a 13-digit number -> index in names_
    std::size_t lines_ = 0;
    std::string date_;
};

} // namespace teloria::data
