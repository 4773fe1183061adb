#include "data/number_normalizer.h"

#include "data/number_kind.h"
#include "data/prefix_store.h"

#include <gtest/gtest.h>

namespace teloria::data {
namespace {

struct CleanCase {
    const char* typed;
    std::optional<NumberKind> kind; // nothing: not a phone number
    const char* digits;
    int areaCodeLength;
};

class CleanNumberTest : public ::testing::TestWithParam<CleanCase> {};

TEST_P(CleanNumberTest, ReadsTheNumberAsUsersPasteIt)
{
    const CleanCase& c = GetParam();
    const auto got = cleanNumber(c.typed);
    ASSERT_EQ(got.has_value(), c.kind.has_value()) << "'" << c.typed << "'";
    if (!got)
        return;
    EXPECT_EQ(got->kind, *c.kind);
    EXPECT_EQ(got->digits, c.digits);
    EXPECT_EQ(got->areaCodeLength, c.areaCodeLength);
}

constexpr auto M = NumberKind::Mobile;
constexpr auto L = NumberKind::Landline;
constexpr auto I = NumberKind::Iot;

INSTANTIATE_TEST_SUITE_P(Cases, CleanNumberTest, ::testing::Values(
    // mobile numbers and their pasted forms
    CleanCase{"13800138000", M, "13800138000", 0},
    CleanCase{"  13800138000\t", M, "13800138000", 0},
    CleanCase{"138 0013 8000", M, "13800138000", 0},
    CleanCase{"138-0013-8000", M, "13800138000", 0},
    CleanCase{"+8613800138000", M, "13800138000", 0},
    CleanCase{"+86 138-0013-8000", M, "13800138000", 0},
    CleanCase{"008613800138000", M, "13800138000", 0},
    CleanCase{"8613800138000", M, "13800138000", 0},
    CleanCase{"19212345678", M, "19212345678", 0},
    CleanCase{"16512345678", M, "16512345678", 0},
    // landlines with an area code
    CleanCase{"010-12345678", L, "01012345678", 3},
    CleanCase{"0755 12345678", L, "075512345678", 4},
    CleanCase{"02112345678", L, "02112345678", 3},
    CleanCase{"0898-1234567", L, "08981234567", 4},
    CleanCase{"+86 10 12345678", L, "01012345678", 3},
    CleanCase{"0086 755 12345678", L, "075512345678", 4},
    // not a phone number at all
    CleanCase{"", std::nullopt, "", 0},
    CleanCase{"   ", std::nullopt, "", 0},
    CleanCase{"abc", std::nullopt, "", 0},
    CleanCase{"1380013800a", std::nullopt, "", 0},
    CleanCase{"1380013800", std::nullopt, "", 0},      // 10 digits
    CleanCase{"138001380001", std::nullopt, "", 0},    // 12 digits
    CleanCase{"12345678901", std::nullopt, "", 0},     // no mobile segment starts 12
    CleanCase{"+1 415 555 0100", std::nullopt, "", 0}, // another country
    CleanCase{"+86", std::nullopt, "", 0},
    CleanCase{"86138001380001", std::nullopt, "", 0},
    CleanCase{"010-123456", std::nullopt, "", 0},      // subscriber too short
    CleanCase{"0755-123456789", std::nullopt, "", 0},  // subscriber too long
    CleanCase{"00755123456", std::nullopt, "", 0},
    // what people paste: full-width digits and signs, dots and brackets, a name or a note beside the number
    CleanCase{"138.0013.8000", M, "13800138000", 0},
    CleanCase{"１３８００１３８０００", M, "13800138000", 0},
    CleanCase{"＋８６　１３８－００１３－８０００", M, "13800138000", 0},
    CleanCase{"（+86）138 0013 8000", M, "13800138000", 0},
    CleanCase{"(+86)13800138000", M, "13800138000", 0},
    CleanCase{"(010) 1234-5678", L, "01012345678", 3},
    CleanCase{"０７５５－１２３４５６７８", L, "075512345678", 4},
    CleanCase{"138。0013。8000", M, "13800138000", 0},
    CleanCase{"张三\t13800138000", M, "13800138000", 0},
    CleanCase{"13800138000\t张三", M, "13800138000", 0},
    CleanCase{"张三 138 0013 8000 （客户）", M, "13800138000", 0},
    CleanCase{"2023年 李四：13800138000", M, "13800138000", 0},
    CleanCase{"13800138000 13800138000", M, "13800138000", 0}, // the same number twice is still one
    CleanCase{"张三 13800138000 李四 13900139000", std::nullopt, "", 0}, // two numbers: which one?
    CleanCase{"13800138000\t13900139000", std::nullopt, "", 0},
    CleanCase{"张三", std::nullopt, "", 0},
    CleanCase{"１２３", std::nullopt, "", 0},
    CleanCase{"\xff\xfe" "13800138000", M, "13800138000", 0}, // broken UTF-8 beside ASCII digits
    CleanCase{"\xe4\xb8", std::nullopt, "", 0},
    CleanCase{"13800138000\x1b[31m", std::nullopt, "", 0}, // a control character: nothing is picked out
    // 13-digit machine-to-machine numbers
    CleanCase{"1064812345678", I, "1064812345678", 0},
    CleanCase{"1440 1234 56789", I, "1440123456789", 0},
    CleanCase{"+86 1064912345678", I, "1064912345678", 0},
    CleanCase{"1065012345678", std::nullopt, "", 0}
));

struct KindCase {
    const char* typed;
    const char* kind;
    const char* cardType; // what the store answers; "" for a line it does not answer
};

class NumberKindTest : public ::testing::TestWithParam<KindCase> {};

// The kind a row says and the card type the built-in data give it, one table.
TEST_P(NumberKindTest, FollowsTheCleanerAndTheSegment)
{
    static const PrefixStore store;
    const KindCase& c = GetParam();
    const auto number = cleanNumber(c.typed);
    const std::string card = number ? store.lookup(*number).cardType : std::string();
    EXPECT_EQ(card, c.cardType) << c.typed;
    EXPECT_EQ(numberKind(c.typed, card), c.kind) << c.typed;
}

INSTANTIATE_TEST_SUITE_P(Cases, NumberKindTest, ::testing::Values(
    KindCase{"13800138000", "mobile", "中国移动"},
    KindCase{"１３８００１３８０００", "mobile", "中国移动"},
    KindCase{"14612345678", "iot", "中国联通物联网"},
    KindCase{"14812345678", "iot", "中国移动物联网"},
    KindCase{"14401234567", "iot", "中国移动物联网"},
    KindCase{"1064812345678", "iot", "中国移动物联网"},
    KindCase{"1064612345678", "iot", "中国联通物联网"},
    KindCase{"1064912345678", "iot", "中国电信物联网"},
    KindCase{"1440512345678", "iot", "中国移动物联网"},
    KindCase{"010-12345678", "landline", "固定电话"},
    KindCase{"10086", "service", ""},
    KindCase{"95588", "service", ""},
    KindCase{"400-123-4567", "service", ""},
    KindCase{"110", "service", ""},
    KindCase{"abc", "not a number", ""},
    KindCase{"", "not a number", ""},
    KindCase{"12", "not a number", ""}
));

} // namespace
} // namespace teloria::data
