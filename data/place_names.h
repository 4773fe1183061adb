#pragma once
// One spelling for every place, whatever the source: the short province name,
// one ASCII space, the short prefecture name ("广东 深圳", "内蒙古 锡林郭勒",
// "吉林 吉林"); a municipality once ("北京"); the province alone when that is
// all a source knows ("海南"). Short names drop 省, 市, 自治区, 地区, 盟,
// 自治州 and the ethnic qualifiers before 自治州 ("新疆 伊犁", "湖北 恩施").
// County-level names map to their prefecture where that is unambiguous
// (延吉 -> 延边), and old names to the current ones (襄樊 -> 襄阳).

#include "data/outside_text.h" // isSafeText, for the callers that spell places

#include <string>
#include <string_view>

namespace teloria::data {

struct Place {
    std::string province; // short name; empty when unknown
    std::string city;     // short prefecture name; empty for a municipality or when unknown

    // "广东 深圳", "北京", "海南", or empty.
    std::string text() const;
    bool operator==(const Place&) const = default;
};

// Separate province and city fields, as phone.dat records and override files
// hold them, in any of the spellings found there ("广东省"/"广东",
// "深圳市"/"深圳"). Either may be empty.
Place placeFromFields(std::string_view province, std::string_view city);

// One run-together description, as libphonenumber's geocoder writes it
// ("广东省深圳市", "广西南宁市", "北京市").
Place placeFromDescription(std::string_view description);

// Today's card-type names: "移动" and "中国移动" both give "中国移动"; a name
// this system does not know stays as given; empty stays empty.
std::string canonicalCardType(std::string_view name);


} // namespace teloria::data
