// The built-in data compiled in at build time against the geocoder itself:
// the only test that links libphonenumber, as the generator does.

#include "data/builtin_ask.h"
#include "data/builtin_mobile.h"
#include "data/prefix_store.h"
#include "data/segment_table.h"

#include <phonenumbers/geocoding/phonenumber_offline_geocoder.h>

#include <gtest/gtest.h>

namespace teloria::data {
namespace {

const i18n::phonenumbers::PhoneNumberOfflineGeocoder& geocoder()
{
    static const i18n::phonenumbers::PhoneNumberOfflineGeocoder instance;
    return instance;
}

#ifdef __SANITIZE_ADDRESS__
constexpr std::uint32_t kStride = 7; // the sanitizer build asks a seventh of them
#else
constexpr std::uint32_t kStride = 1;
#endif

// Every mobile prefix: the compiled-in answer is what the geocoder and the
// segment table say, and the store hands it out with the place's area code.
TEST(BuiltInData, EveryMobileAnswerIsTheGeocodersAnswer)
{
    const PrefixStore store;
    std::size_t differ = 0;
    const std::uint32_t end = PrefixStore::kFirstPrefix + PrefixStore::kPrefixCount;
    for (std::uint32_t p = PrefixStore::kFirstPrefix; p < end; p += kStride) {
        const MobileFacts asked = askBuiltIn(geocoder(), SegmentTable::builtIn(), p);
        const BakedFacts& baked = bakedFacts(bakedIndex(p));
        if (asked.place.province != baked.province || asked.place.city != baked.city || asked.cardType != baked.cardType) {
            if (++differ <= 5)
                ADD_FAILURE() << p << ": geocoder " << asked.place.text() << " " << asked.cardType << ", compiled in "
                              << baked.province << " " << baked.city << " " << baked.cardType;
        }
        if (p % 97 == 0) { // the store's answer, a sample: it reads the same table
            const Answer& a = store.mobile(p);
            const std::string place = asked.place.text();
            EXPECT_EQ(a.location, place.empty() ? std::string(kUnknown) : place) << p;
            EXPECT_EQ(a.areaCode, place.empty() ? "" : bakedAreaCode(place)) << p;
        }
    }
    EXPECT_EQ(differ, 0u);
}

// Every landline area code: the compiled-in place is the geocoder's for any
// subscriber number of the code.
TEST(BuiltInData, EveryLandlinePlaceIsTheGeocodersPlace)
{
    std::size_t named = 0;
    for (const std::uint32_t code : landlineAreaCodes()) {
        const BakedPlace baked = bakedLandline(code);
        for (const std::uint64_t subscriber : {1234567ull, 88888888ull, 20000000ull}) {
            const std::uint64_t digits = subscriber < 10000000 ? 10000000 : 100000000;
            const std::string described = describeChineseNumber(geocoder(), code * digits + subscriber);
            // A listing of several places is the first one's.
            const Place asked = placeFromDescription(described.substr(0, described.find("、")));
            EXPECT_EQ(asked.province, baked.province) << code << " " << subscriber;
            EXPECT_EQ(asked.city, baked.city) << code << " " << subscriber;
        }
        named += baked.province.empty() ? 0 : 1;
    }
    EXPECT_GT(named, 300u);
    EXPECT_TRUE(bakedLandline(1000).province.empty()); // not a code
}

// The area code of a place names that place in the landline table; where the
// geocoder maps several codes to one place, the code in use is chosen.
TEST(BuiltInData, EachPlaceHasTheAreaCodeThatNamesIt)
{
    const auto places = areaCodesOfPlaces(geocoder());
    ASSERT_GT(places.size(), 300u);
    for (const auto& [place, code] : places) {
        EXPECT_EQ(bakedAreaCode(place), code) << place;
        bool named = false;
        for (const Place& p : askLandlinePlaces(geocoder(), static_cast<std::uint32_t>(std::stoul(code.substr(1)))))
            named |= p.text() == place;
        EXPECT_TRUE(named) << place << " " << code;
    }
    struct Case {
        const char* place;
        const char* code;
    };
    for (const Case c : {Case{"广东 深圳", "0755"}, Case{"北京", "010"}, Case{"上海", "021"}, Case{"山西 朔州", "0349"},
                         Case{"河北 秦皇岛", "0335"}, Case{"新疆 伊犁", "0999"}, Case{"四川 成都", "028"},
                         Case{"四川 眉山", "028"}, Case{"贵州 遵义", "0852"}, Case{"广东", ""}, Case{"", ""}})
        EXPECT_EQ(bakedAreaCode(c.place), c.code) << c.place;
}

} // namespace
} // namespace teloria::data
