#pragma once
// Lenient reading of a number as users paste it: surrounding and inner spaces,
// dashes, and a country prefix are dropped before the lookup.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace teloria::data {

// Typed text longer than this is no number, whatever it holds: the service
// refuses such a "mobile" value (400) and the in-process batch passes it over.
inline constexpr std::size_t kMaxNumberBytes = 64;

enum class NumberKind { Mobile, Landline };

struct CleanNumber {
    NumberKind kind = NumberKind::Mobile;
    std::string digits;     // mobile: 11 digits "1..."; landline: trunk 0, area code, subscriber
    int areaCodeLength = 0; // landline only: digits of the area code after the 0 included ("010" -> 3)
};

// Nothing when the text is not a phone number at all (letters, wrong length, empty).
// Mobile: 11 digits starting 13-19, optionally after "+86", "0086" or "86".
// Landline: 0, a 2- or 3-digit area code ("010", "0755"), a 7- or 8-digit
// subscriber number; "+86"/"0086" may stand for the leading 0.
std::optional<CleanNumber> cleanNumber(std::string_view typed);

} // namespace teloria::data
