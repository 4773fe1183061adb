#include "data/builtin_ask.h"

#include "data/segment_table.h"

#include <phonenumbers/geocoding/phonenumber_offline_geocoder.h>
#include <phonenumbers/phonenumber.pb.h>

#include <unicode/locid.h>

#include <map>
#include <unordered_map>

namespace teloria::data {

namespace {

// The prefectures whose code the geocoder shares with codes no one dials:
// it maps 0340..0349 to 朔州, whose code is 0349.
constexpr std::pair<std::string_view, std::string_view> kChosenAreaCodes[] = {
    {"山西 朔州", "0349"}, {"河北 秦皇岛", "0335"}, {"江西 鹰潭", "0701"},
    {"浙江 舟山", "0580"}, {"新疆 伊犁", "0999"},   {"青海 海西", "0977"},
};

} // namespace

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
    // A million prefixes share a few hundred descriptions: each is read once.
    thread_local std::unordered_map<std::string, Place> placeOf;
    std::string description = describeChineseNumber(geocoder, std::uint64_t{prefix7} * 10000);
    auto known = placeOf.find(description);
    if (known == placeOf.end()) {
        Place place = placeFromDescription(description);
        known = placeOf.emplace(std::move(description), std::move(place)).first;
    }
    MobileFacts facts;
    facts.place = known->second;
    facts.cardType = std::string(segments.operatorOf(std::to_string(prefix7)));
    return facts;
}

std::vector<std::uint32_t> landlineAreaCodes()
{
    std::vector<std::uint32_t> codes{10};
    for (std::uint32_t code = 20; code <= 29; ++code)
        codes.push_back(code);
    for (std::uint32_t code = 300; code <= 999; ++code)
        codes.push_back(code);
    return codes;
}

std::vector<Place> askLandlinePlaces(const i18n::phonenumbers::PhoneNumberOfflineGeocoder& geocoder,
                                     std::uint32_t areaCode)
{
    // A 7-digit subscriber number after the code.
    const std::string description = describeChineseNumber(geocoder, std::uint64_t{areaCode} * 10000000 + 8888888);
    // "四川省成都市、资阳市、眉山市": the first place is the code's, the others
    // share it, written without their province.
    constexpr std::string_view kListMark = "、";
    std::vector<Place> places;
    std::string_view rest = description;
    for (;;) {
        const std::size_t mark = rest.find(kListMark);
        const std::string_view item = rest.substr(0, mark);
        if (places.empty())
            places.push_back(placeFromDescription(item));
        else if (const Place also = placeFromFields(places.front().province, item); !also.text().empty())
            places.push_back(also);
        if (mark == std::string_view::npos)
            break;
        rest.remove_prefix(mark + kListMark.size());
    }
    return places;
}

Place askLandline(const i18n::phonenumbers::PhoneNumberOfflineGeocoder& geocoder, std::uint32_t areaCode)
{
    return askLandlinePlaces(geocoder, areaCode).front();
}

std::string areaCodeText(std::uint32_t areaCode)
{
    return "0" + std::to_string(areaCode);
}

std::vector<std::pair<std::string, std::string>>
areaCodesOfPlaces(const i18n::phonenumbers::PhoneNumberOfflineGeocoder& geocoder)
{
    std::map<std::string, std::string> byPlace;
    std::vector<std::pair<std::string, std::string>> alsoNamed;
    for (const std::uint32_t code : landlineAreaCodes()) {
        const std::vector<Place> places = askLandlinePlaces(geocoder, code);
        for (std::size_t i = 0; i < places.size(); ++i) {
            const std::string place = places[i].text();
            if (place.empty())
                continue;
            if (i == 0)
                byPlace.try_emplace(place, areaCodeText(code)); // codes come lowest first
            else
                alsoNamed.emplace_back(place, areaCodeText(code));
        }
    }
    // A place only listed beside another takes the first code that lists it.
    for (const auto& [place, code] : alsoNamed)
        byPlace.try_emplace(place, code);
    for (const auto& [place, code] : kChosenAreaCodes) {
        if (const auto it = byPlace.find(std::string(place)); it != byPlace.end())
            it->second = std::string(code);
    }
    return {byPlace.begin(), byPlace.end()};
}

} // namespace teloria::data
