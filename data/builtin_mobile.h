#pragma once
// The built-in data's answer for a 7-digit mobile prefix: the place
// libphonenumber's geocoder gives, in the one spelling of place_names.h, and
// the operator of the segment table. Asking the geocoder is slow, so the
// answers for every prefix are worked out when the program is built
// (builtin_gen.cpp) and compiled in; bakedMobile() reads them back.

#include "data/place_names.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace i18n::phonenumbers {
class PhoneNumberOfflineGeocoder;
}

namespace teloria::data {

class SegmentTable;

// The geocoder's description of a Chinese national number; empty when it
// knows no more than the country.
std::string describeChineseNumber(const i18n::phonenumbers::PhoneNumberOfflineGeocoder& geocoder,
                                  std::uint64_t nationalNumber);

struct MobileFacts {
    Place place;
    std::string cardType; // empty when the segment table has no line for the prefix
    bool operator==(const MobileFacts&) const = default;
};

// Asks the geocoder and the segment table (slow: the build's way).
MobileFacts askBuiltIn(const i18n::phonenumbers::PhoneNumberOfflineGeocoder& geocoder, const SegmentTable& segments,
                       std::uint32_t prefix7);

// The compiled-in answers: kBakedCount distinct ones, each prefix
// 1000000..1999999 naming one by its index. Valid for SegmentTable::builtIn().
struct BakedFacts {
    std::string_view province;
    std::string_view city;
    std::string_view cardType;
};
std::uint32_t bakedCount();
const BakedFacts& bakedFacts(std::uint32_t index);
std::uint32_t bakedIndex(std::uint32_t prefix7); // prefix7 in 1000000..1999999

} // namespace teloria::data
