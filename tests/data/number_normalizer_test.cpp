#include "data/number_normalizer.h"

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
    CleanCase{"138.0013.8000", std::nullopt, "", 0},
    CleanCase{"１３８００１３８０００", std::nullopt, "", 0} // full-width digits
));

} // namespace
} // namespace teloria::data
