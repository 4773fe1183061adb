#include "data/builtin_mobile.h"

#include "data/segment_table.h"

#include <phonenumbers/geocoding/phonenumber_offline_geocoder.h>
#include <phonenumbers/phonenumber.pb.h>

#include <unicode/locid.h>

namespace teloria::data {

std::string describeChineseNumber(const i18n::phonenumbers::PhoneNumberOfflineGeocoder& geocoder,
                                  std::uint64_t nationalNumber)
{
    static const icu::Locale chinese("zh", "CN");
    i18n::phonenumbers::PhoneNumber number;
    number.set_country_code(86);
    number.set_national_number(nationalNumber);
    std::string description = geocoder.GetDescriptionForValidNumber(number, chinese);
    // For a prefix it has no area for, the geocoder names only the country.
    return description == "中国" ? std::string() : description;
}

MobileFacts askBuiltIn(const i18n::phonenumbers::PhoneNumberOfflineGeocoder& geocoder, const SegmentTable& segments,
                       std::uint32_t prefix7)
{
    // Any number of the prefix describes it; the geocoder maps 7-digit prefixes.
    MobileFacts facts;
    facts.place = placeFromDescription(describeChineseNumber(geocoder, std::uint64_t{prefix7} * 10000));
    facts.cardType = std::string(segments.operatorOf(std::to_string(prefix7)));
    return facts;
}

} // namespace teloria::data
