#pragma once
// The build's side of the built-in data: asks libphonenumber's geocoder and
// the segment table. Only the generator (builtin_gen.cpp) and its test link
// this; the programs read the answers compiled in (builtin_mobile.h).

#include "data/builtin_mobile.h"

#include <cstdint>
#include <string>
#include <vector>

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

// The place and operator of a 7-digit mobile prefix.
MobileFacts askBuiltIn(const i18n::phonenumbers::PhoneNumberOfflineGeocoder& geocoder, const SegmentTable& segments,
                       std::uint32_t prefix7);

// Every area code after its 0 that a landline number can have: 10, 20..29, 300..999.
std::vector<std::uint32_t> landlineAreaCodes();

// The place of a landline area code (after its 0); empty when the geocoder
// names only the country. The geocoder gives one place for every number of a
// code, so any subscriber number stands for all.
Place askLandline(const i18n::phonenumbers::PhoneNumberOfflineGeocoder& geocoder, std::uint32_t areaCode);
// The same, with the places the geocoder lists beside the first one
// ("四川省成都市、资阳市、眉山市"); the first is the code's own.
std::vector<Place> askLandlinePlaces(const i18n::phonenumbers::PhoneNumberOfflineGeocoder& geocoder,
                                     std::uint32_t areaCode);

// "0755", "010": the written area code of a code after its 0.
std::string areaCodeText(std::uint32_t areaCode);

// The area code of each place the landline table names, as "place text",
// "0755" pairs sorted by place text. Where several codes name one place
// (the geocoder maps whole decades such as 0340..0349 to one prefecture),
// the code in use wins, else the lowest; a place the geocoder only lists
// beside another takes that code.
std::vector<std::pair<std::string, std::string>>
areaCodesOfPlaces(const i18n::phonenumbers::PhoneNumberOfflineGeocoder& geocoder);

} // namespace teloria::data
