#pragma once
// The operator of each mobile number segment, read from the segment table
// kept in data/segments.tsv and compiled into the binary.

#include <array>
#include <cstdint>
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

    std::size_t lineCount() const { return lines_; }

private:
    SegmentTable() { byPrefix_.fill(-1); }

    std::vector<std::string> names_;
    std::array<std::int16_t, 10000> byPrefix_{}; // 4-digit prefix -> index in names_, -1 unknown
    std::size_t lines_ = 0;
};

} // namespace teloria::data
