#pragma once
// What one source says about a 7-digit prefix, and the one rule for putting a
// higher source over a lower one: a field the higher source leaves empty
// (blank or white space only) keeps the lower one's. The place (province and
// city) goes over as one; the card type, postcode and area code each alone.
// The prefix store, `teloria-data merge` and `convert` all use it.

#include <string>
#include <string_view>

namespace teloria::data {

struct PrefixFacts {
    std::string province;
    std::string city;
    std::string cardType;
    std::string areaCode;
    std::string zip;

    bool operator==(const PrefixFacts&) const = default;
};

// Empty, or nothing but white space (ASCII, the no-break and the ideographic space).
bool isBlank(std::string_view text);
// A province or city that names a place.
bool hasPlace(const PrefixFacts& facts);
// A card type that is not blank and not 未知.
bool hasCardType(const PrefixFacts& facts);
// Every field that the store answers with: a place and a card type.
inline bool isComplete(const PrefixFacts& facts) { return hasPlace(facts) && hasCardType(facts); }

PrefixFacts overlayFacts(PrefixFacts below, const PrefixFacts& above);

} // namespace teloria::data
