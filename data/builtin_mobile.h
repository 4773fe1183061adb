#pragma once
// The built-in data, worked out when the program is built (builtin_gen.cpp
// asks libphonenumber's geocoder and the segment table, see builtin_ask.h)
// and compiled in, so that no program links the geocoder: the answer of every
// 7-digit mobile prefix, the place of every landline area code, and the area
// code of every place the landline table names. Places follow the one
// spelling of place_names.h.

#include "data/place_names.h"

#include <cstdint>
#include <string_view>

namespace teloria::data {

// The compiled-in mobile answers: bakedCount() distinct ones, each prefix
// 1000000..1999999 naming one by its index. Valid for SegmentTable::builtIn().
struct BakedFacts {
    std::string_view province;
    std::string_view city;
    std::string_view cardType;
};
std::uint32_t bakedCount();
const BakedFacts& bakedFacts(std::uint32_t index);
std::uint32_t bakedIndex(std::uint32_t prefix7); // prefix7 in 1000000..1999999

// The place of a landline area code after its 0 (10, 755); empty fields when
// the geocoder names only the country or the code is not one.
struct BakedPlace {
    std::string_view province;
    std::string_view city;
};
BakedPlace bakedLandline(std::uint32_t areaCode);

// The area code ("0755", "010") of a place as Place::text() writes it
// ("广东 深圳", "北京"); empty when the landline table names no such place.
std::string_view bakedAreaCode(std::string_view placeText);

} // namespace teloria::data
