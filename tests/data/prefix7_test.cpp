#include "data/prefix7.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace teloria::data {
namespace {

enum class From { Text, Number, Int };

struct Prefix7Case {
    From from;
    const char* input;               // the text, the number, or the integer written out
    std::optional<std::uint32_t> is; // nothing: refused
};

void PrintTo(const Prefix7Case& c, std::ostream* os) { *os << int(c.from) << " '" << c.input << "'"; }

class Prefix7Test : public ::testing::TestWithParam<Prefix7Case> {};

TEST_P(Prefix7Test, FactoriesTakeOnlyMobilePrefixes)
{
    const Prefix7Case& c = GetParam();
    std::optional<Prefix7> got;
    switch (c.from) {
    case From::Text: got = Prefix7::fromText(c.input); break;
    case From::Number: got = Prefix7::fromNumber(c.input); break;
    case From::Int: got = Prefix7::fromInt(std::stoull(c.input)); break;
    }
    ASSERT_EQ(got.has_value(), c.is.has_value());
    if (!got)
        return;
    EXPECT_EQ(got->value(), *c.is);
    EXPECT_EQ(got->text(), std::to_string(*c.is)); // the text form reads back
    EXPECT_EQ(Prefix7::fromText(got->text()), got);
    EXPECT_EQ(got->segment(), *c.is / 10000);
}

constexpr auto T = From::Text;
constexpr auto N = From::Number;
constexpr auto I = From::Int;

INSTANTIATE_TEST_SUITE_P(Cases, Prefix7Test, ::testing::Values(
    Prefix7Case{T, "1380013", 1380013u},
    Prefix7Case{T, "1300000", 1300000u}, // the first segment's first
    Prefix7Case{T, "1999999", 1999999u},
    Prefix7Case{T, "1299999", std::nullopt}, // below the mobile segments
    Prefix7Case{T, "1000000", std::nullopt},
    Prefix7Case{T, "2380013", std::nullopt},
    Prefix7Case{T, "138001", std::nullopt},   // six digits
    Prefix7Case{T, "13800130", std::nullopt}, // eight
    Prefix7Case{T, "138001a", std::nullopt},
    Prefix7Case{T, "138 013", std::nullopt},
    Prefix7Case{T, "+380013", std::nullopt},
    Prefix7Case{T, "", std::nullopt},
    Prefix7Case{N, "13800138000", 1380013u},
    Prefix7Case{N, "19999999999", 1999999u},
    Prefix7Case{N, "12800138000", std::nullopt},
    Prefix7Case{N, "1380013800", std::nullopt},   // ten digits
    Prefix7Case{N, "138001380001", std::nullopt}, // twelve
    Prefix7Case{N, "1380013800x", std::nullopt},  // a letter after the prefix
    Prefix7Case{N, "138001x8000", std::nullopt},
    // Bytes just outside '0'..'9', at either end and in the middle of the line
    Prefix7Case{N, "1380013800:", std::nullopt},
    Prefix7Case{N, "13800/38000", std::nullopt},
    Prefix7Case{N, "1380?138000", std::nullopt},
    Prefix7Case{N, "1380013800\xb9", std::nullopt}, // '9' with the high bit set
    Prefix7Case{N, "/3800138000", std::nullopt},
    Prefix7Case{N, "1380013", std::nullopt},      // a prefix is not a number
    Prefix7Case{I, "1300000", 1300000u},
    Prefix7Case{I, "1999999", 1999999u},
    Prefix7Case{I, "1299999", std::nullopt},
    Prefix7Case{I, "2000000", std::nullopt},
    Prefix7Case{I, "0", std::nullopt},
    Prefix7Case{I, "5680013", std::nullopt},
    Prefix7Case{I, "4296347296", std::nullopt})); // 2^32 + 1380000: not taken modulo 2^32

// A walk over prefixes: all() in order, each segment its 10,000, and no
// segment outside 130..199.
TEST(Prefix7Ranges, CoverTheMobileSegmentsInOrder)
{
    std::uint32_t n = 0;
    std::uint32_t last = 0;
    for (const Prefix7 p : Prefix7::all()) {
        EXPECT_GT(p.value(), last);
        last = p.value();
        ++n;
    }
    EXPECT_EQ(n, 700000u);
    EXPECT_EQ(last, 1999999u);
    for (const std::uint32_t s : {130u, 165u, 199u}) {
        const auto segment = Prefix7::ofSegment(s);
        EXPECT_EQ(segment.size(), 10000u) << s;
        EXPECT_EQ((*segment.begin()).value(), s * 10000) << s;
    }
    for (const std::uint32_t s : {0u, 129u, 200u, 4294967u})
        EXPECT_EQ(Prefix7::ofSegment(s).size(), 0u) << s;
}

} // namespace
} // namespace teloria::data
