#include "service/location_resolver.h"

#include "service/service_test_support.h"

#include <gtest/gtest.h>

namespace teloria::service {
namespace {

struct ResolveCase {
    const char* typed;
    const char* location;
    const char* cardType;
};

void PrintTo(const ResolveCase& c, std::ostream* os) { *os << c.typed; }

const LocationResolver& builtInResolver()
{
    static const LocationResolver resolver;
    return resolver;
}

const LocationResolver& resolverWithDat()
{
    static const LocationResolver resolver = [] {
        auto store = std::make_shared<data::PrefixStore>();
        store->addPhoneDat(*PhoneDat::parse(testing::sampleDat().build()), "sample.dat");
        return LocationResolver(store);
    }();
    return resolver;
}

class BuiltInDataTest : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(BuiltInDataTest, AnswersFromTheGeocoderAndTheSegmentTable)
{
    const auto number = cleanNumber(GetParam().typed);
    ASSERT_TRUE(number);
    const Answer& a = builtInResolver().resolve(*number);
    EXPECT_EQ(a.location, GetParam().location);
    EXPECT_EQ(a.cardType, GetParam().cardType);
    // The GBK forms are what the page carries.
    EXPECT_EQ(a.locationGbk, encodeGbk(QString::fromStdString(a.location)));
    EXPECT_EQ(a.cardTypeGbk, encodeGbk(QString::fromStdString(a.cardType)));
}

INSTANTIATE_TEST_SUITE_P(Cases, BuiltInDataTest, ::testing::Values(
    ResolveCase{"13800138000", "北京", "中国移动"},
    ResolveCase{"13912345678", "江苏 常州", "中国移动"},
    ResolveCase{"14512345678", "北京", "中国联通"},
    ResolveCase{"17001234567", "北京", "中国电信虚拟运营商"},
    // segments the geocoder names only "中国" for: the location is unknown
    ResolveCase{"19212345678", "未知", "中国广电"},
    ResolveCase{"16512345678", "未知", "中国移动虚拟运营商"},
    // a segment held by nobody
    ResolveCase{"15412345678", "未知", "未知"},
    // landlines: the city of the area code
    ResolveCase{"010-12345678", "北京", "固定电话"},
    ResolveCase{"0755 12345678", "广东 深圳", "固定电话"},
    ResolveCase{"021-12345678", "上海", "固定电话"},
    ResolveCase{"0335-1234567", "河北 秦皇岛", "固定电话"},
    ResolveCase{"0300-1234567", "未知", "固定电话"} // an area code nobody has
));

class PhoneDatDataTest : public ::testing::TestWithParam<ResolveCase> {};

TEST_P(PhoneDatDataTest, LoadedDataWinsWhereItHasThePrefix)
{
    const auto number = cleanNumber(GetParam().typed);
    ASSERT_TRUE(number);
    const Answer& a = resolverWithDat().resolve(*number);
    EXPECT_EQ(a.location, GetParam().location);
    EXPECT_EQ(a.cardType, GetParam().cardType);
}

INSTANTIATE_TEST_SUITE_P(Cases, PhoneDatDataTest, ::testing::Values(
    ResolveCase{"13800138000", "测试 样例", "中国联通"},
    ResolveCase{"17001231234", "北京", "中国电信虚拟运营商"}, // a municipality: once
    ResolveCase{"19212341234", "甲省 乙市", "中国广电"},
    ResolveCase{"19999991234", "甲省 乙市", "中国电信"},     // unknown card-type byte: the segment's operator stays
    ResolveCase{"13800148000", "北京", "中国移动"},       // next prefix: built-in data
    ResolveCase{"010-12345678", "北京", "固定电话"}
));

} // namespace
} // namespace teloria::service
