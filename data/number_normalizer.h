#pragma once
// Lenient reading of a number as users paste it: full-width digits and signs
// (１３８…, ＋８６) read as their ASCII forms (NFKC), spaces, dashes, dots and
// brackets dropped as separators, and a country prefix ("+86", "（+86）",
// "0086") dropped before the lookup. A line that holds exactly one number
// among other text (a name, a tab, a note) is read as that number.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace teloria::data {

// Typed text longer than this is no number, whatever it holds: the service
// refuses such a "mobile" value (400) and the in-process batch passes it over.
inline constexpr std::size_t kMaxNumberBytes = 64;

// Mobile: an 11-digit number of a 13-19 segment. Landline: trunk 0, area
// code, subscriber. Iot: a 13-digit machine-to-machine number (10 64x…, 14 40x…).
enum class NumberKind { Mobile, Landline, Iot };

struct CleanNumber {
    NumberKind kind = NumberKind::Mobile;
    std::string digits;     // mobile: 11 digits "1..."; landline: trunk 0, area code, subscriber; iot: 13 digits
    int areaCodeLength = 0; // landline only: digits of the area code after the 0 included ("010" -> 3)
};

// Nothing when the text is not a phone number at all (letters, wrong length,
// empty) or holds more than one number.
// Mobile: 11 digits starting 13-19, optionally after "+86", "0086" or "86".
// Landline: 0, a 2- or 3-digit area code ("010", "0755"), a 7- or 8-digit
// subscriber number; "+86"/"0086" may stand for the leading 0.
// Iot: 13 digits starting 1064 or 1440.
std::optional<CleanNumber> cleanNumber(std::string_view typed);

} // namespace teloria::data
