#include "data/place_names.h"

#include <gtest/gtest.h>

namespace teloria::data {
namespace {

struct SpellingCase {
    const char* province; // nullptr: description is one run-together text
    const char* city;
    const char* expected;
};

void PrintTo(const SpellingCase& c, std::ostream* os)
{
    *os << (c.province ? c.province : "(description)") << '|' << c.city;
}

class OneSpellingTest : public ::testing::TestWithParam<SpellingCase> {};

TEST_P(OneSpellingTest, GivesShortProvinceSpaceShortPrefecture)
{
    const SpellingCase& c = GetParam();
    const Place place = c.province ? placeFromFields(c.province, c.city) : placeFromDescription(c.city);
    EXPECT_EQ(place.text(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, OneSpellingTest, ::testing::Values(
    // the geocoder's descriptions
    SpellingCase{nullptr, "广东省深圳市", "广东 深圳"},
    SpellingCase{nullptr, "广西南宁市", "广西 南宁"},
    SpellingCase{nullptr, "广西壮族自治区桂林市", "广西 桂林"},
    SpellingCase{nullptr, "内蒙古锡林郭勒盟", "内蒙古 锡林郭勒"},
    SpellingCase{nullptr, "新疆伊犁哈萨克自治州", "新疆 伊犁"},
    SpellingCase{nullptr, "新疆巴音郭楞蒙古自治州", "新疆 巴音郭楞"},
    SpellingCase{nullptr, "湖北省恩施土家族苗族自治州", "湖北 恩施"},
    SpellingCase{nullptr, "青海省海西蒙古族藏族自治州", "青海 海西"},
    SpellingCase{nullptr, "青海省海南藏族自治州", "青海 海南"},
    SpellingCase{nullptr, "吉林省延边朝鲜族自治州", "吉林 延边"},
    SpellingCase{nullptr, "吉林省吉林市", "吉林 吉林"},
    SpellingCase{nullptr, "黑龙江省大兴安岭地区", "黑龙江 大兴安岭"},
    SpellingCase{nullptr, "贵州省毕节地区", "贵州 毕节"},
    SpellingCase{nullptr, "青海省海东地区", "青海 海东"},
    SpellingCase{nullptr, "湖北省神农架林区", "湖北 神农架"},
    SpellingCase{nullptr, "北京市", "北京"},
    SpellingCase{nullptr, "重庆市", "重庆"},
    SpellingCase{nullptr, "天津", "天津"},
    SpellingCase{nullptr, "海南省", "海南"},
    SpellingCase{nullptr, "云南省德宏傣族景颇族自治州", "云南 德宏"},
    // stale names, from either kind of source
    SpellingCase{nullptr, "湖北省襄樊市", "湖北 襄阳"},
    SpellingCase{nullptr, "安徽省巢湖市", "安徽 合肥"},
    SpellingCase{nullptr, "山东省莱芜市", "山东 济南"},
    SpellingCase{nullptr, "云南省思茅市", "云南 普洱"},
    SpellingCase{"四川", "万县", "重庆"},
    SpellingCase{"湖北", "襄樊", "湖北 襄阳"},
    // phone.dat records and override files
    SpellingCase{"广东", "深圳", "广东 深圳"},
    SpellingCase{"广东省", "深圳市", "广东 深圳"},
    SpellingCase{"广东", "广东深圳", "广东 深圳"},
    SpellingCase{"广东深圳", "", "广东 深圳"},
    SpellingCase{"吉林", "吉林", "吉林 吉林"},
    SpellingCase{"北京", "北京", "北京"},
    SpellingCase{"重庆", "", "重庆"},
    SpellingCase{"海南", "", "海南"},
    SpellingCase{"海南", "海南", "海南"},
    SpellingCase{"新疆", "伊犁", "新疆 伊犁"},
    SpellingCase{" 湖北 ", "恩施", "湖北 恩施"},
    // county-level names: their prefecture where unambiguous
    SpellingCase{"吉林", "延吉", "吉林 延边"},
    SpellingCase{"吉林", "延吉市", "吉林 延边"},
    SpellingCase{"内蒙古", "海拉尔", "内蒙古 呼伦贝尔"},
    SpellingCase{"新疆", "库尔勒", "新疆 巴音郭楞"},
    SpellingCase{"云南", "芒市", "云南 德宏"},
    SpellingCase{"", "库尔勒", "新疆 巴音郭楞"},
    SpellingCase{"广东", "顺德", "广东 顺德"}, // not in the table: as given
    // what is not a known province stays as given, less 省
    SpellingCase{"测试省", "样例市", "测试 样例"},
    SpellingCase{"", "", ""}
));

struct CardTypeCase {
    const char* given;
    const char* expected;
};

TEST(CardTypeNames, KeepTodaysNames)
{
    for (const CardTypeCase& c : {CardTypeCase{"中国移动", "中国移动"}, CardTypeCase{"移动", "中国移动"},
                                  CardTypeCase{"联通", "中国联通"}, CardTypeCase{"电信虚拟运营商", "中国电信虚拟运营商"},
                                  CardTypeCase{"中国广电虚拟运营商", "中国广电虚拟运营商"},
                                  CardTypeCase{"电信卫星", "中国电信卫星"}, CardTypeCase{"固话", "固定电话"},
                                  CardTypeCase{"中国卫通", "中国卫通"}, CardTypeCase{" ", ""}})
        EXPECT_EQ(canonicalCardType(c.given), c.expected) << c.given;
}

struct UnsafeCase {
    const char* text;
    const char* reason;
};

TEST(SafeText, RefusesMarkupMarkersAndControlCharacters)
{
    for (const UnsafeCase& c : {UnsafeCase{"深圳<br/>", "markup"}, UnsafeCase{"卡类型：中国移动", "卡类型"},
                                UnsafeCase{"归属地：北京", "归属地"}, UnsafeCase{"a>b", "markup"},
                                UnsafeCase{"&lt;", "markup"}, UnsafeCase{"深圳\r\n", "control"},
                                UnsafeCase{"\t", "control"}, UnsafeCase{"a|b", "separator"},
                                UnsafeCase{"\xB1\xB1\xBE\xA9", "UTF-8"}, UnsafeCase{"\xE6\xB7", "UTF-8"}}) {
        std::string why;
        EXPECT_FALSE(isSafeText(c.text, &why)) << c.text;
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }
    for (const char* fine : {"", "广东 深圳", "中国移动虚拟运营商", "Macau 澳门"})
        EXPECT_TRUE(isSafeText(fine)) << fine;
}

} // namespace
} // namespace teloria::data
