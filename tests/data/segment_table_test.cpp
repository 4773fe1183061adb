#include "data/segment_table.h"

#include <gtest/gtest.h>

#include <set>

namespace teloria::data {
namespace {

struct OperatorCase {
    const char* number;
    const char* expected; // "" when no segment covers it
};

class BuiltInSegmentsTest : public ::testing::TestWithParam<OperatorCase> {};

TEST_P(BuiltInSegmentsTest, NamesTheOperatorOfTheSegment)
{
    EXPECT_EQ(SegmentTable::builtIn().operatorOf(GetParam().number), GetParam().expected) << GetParam().number;
}

INSTANTIATE_TEST_SUITE_P(Cases, BuiltInSegmentsTest, ::testing::Values(
    OperatorCase{"13012345678", "中国联通"},
    OperatorCase{"13312345678", "中国电信"},
    OperatorCase{"13412345678", "中国移动"},
    OperatorCase{"13490012345", "中国电信卫星"}, // 4-digit line wins over 134
    OperatorCase{"13800138000", "中国移动"},
    OperatorCase{"14512345678", "中国联通"},
    OperatorCase{"14112345678", "中国电信"},
    OperatorCase{"17411234567", "中国电信卫星"},
    OperatorCase{"14912345678", "中国电信"},
    OperatorCase{"16212345678", "中国电信虚拟运营商"},
    OperatorCase{"16512345678", "中国移动虚拟运营商"},
    OperatorCase{"16612345678", "中国联通"},
    OperatorCase{"16712345678", "中国联通虚拟运营商"},
    OperatorCase{"17001234567", "中国电信虚拟运营商"},
    OperatorCase{"17031234567", "中国移动虚拟运营商"},
    OperatorCase{"17041234567", "中国联通虚拟运营商"},
    OperatorCase{"17091234567", "中国联通虚拟运营商"},
    OperatorCase{"17112345678", "中国联通虚拟运营商"},
    OperatorCase{"17312345678", "中国电信"},
    OperatorCase{"17812345678", "中国移动"},
    OperatorCase{"19012345678", "中国电信"},
    OperatorCase{"19212345678", "中国广电"},
    OperatorCase{"19512345678", "中国移动"},
    OperatorCase{"19612345678", "中国联通"},
    OperatorCase{"19812345678", "中国移动"},
    OperatorCase{"19912345678", "中国电信"},
    OperatorCase{"15412345678", ""}, // held by nobody
    OperatorCase{"12345678901", ""},
    OperatorCase{"138", ""}
));

// Every segment in use today has a line: the 3-digit segments not listed here
// are the unassigned ones (and 140/141/144, issued only as 13-digit IoT numbers).
TEST(BuiltInSegments, CoverEverySegmentInUse)
{
    const std::set<int> unassigned = {140, 142, 143, 144, 154, 160, 161, 163, 164, 168, 169, 179, 194};
    for (int segment = 130; segment <= 199; ++segment) {
        bool held = false;
        for (int sub = 0; sub <= 9; ++sub)
            held |= !SegmentTable::builtIn().operatorOf(std::to_string(segment * 10 + sub) + "1234567").empty();
        EXPECT_EQ(held, !unassigned.contains(segment)) << segment;
    }
    for (int sub = 1700; sub <= 1709; ++sub)
        EXPECT_FALSE(SegmentTable::builtIn().operatorOf(std::to_string(sub) + "1234567").empty()) << sub;
}

struct BadTableCase {
    const char* text;
    const char* reason; // part of the message
};

class BadSegmentTableTest : public ::testing::TestWithParam<BadTableCase> {};

TEST_P(BadSegmentTableTest, IsRefusedWithTheLine)
{
    std::string error;
    EXPECT_FALSE(SegmentTable::parse(GetParam().text, &error));
    EXPECT_NE(error.find(GetParam().reason), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Cases, BadSegmentTableTest, ::testing::Values(
    BadTableCase{"130 中国联通\n", "line 1: no tab"},
    BadTableCase{"# c\n\n13\t中国联通\n", "line 3: '13' is not"},
    BadTableCase{"13000\t中国联通\n", "'13000' is not"},
    BadTableCase{"230\t中国联通\n", "'230' is not"},
    BadTableCase{"13a\t中国联通\n", "'13a' is not"},
    BadTableCase{"130\t\n", "no operator name for 130"},
    BadTableCase{"130\t中国联通\n131\t中国联通\n130\t中国移动\n", "line 3: prefix 130 is given twice"}
));

TEST(SegmentTableParse, ReadsCrLfLinesAndNotesAfterTheName)
{
    const auto table = SegmentTable::parse("# comment\r\n130\t中国联通\tnote\r\n1301\t测试\r\n");
    ASSERT_TRUE(table);
    EXPECT_EQ(table->lineCount(), 2u);
    EXPECT_EQ(table->operatorOf("13001234567"), "中国联通");
    EXPECT_EQ(table->operatorOf("13011234567"), "测试");
    EXPECT_EQ(table->operatorOf("13112345678"), "");
}

} // namespace
} // namespace teloria::data
