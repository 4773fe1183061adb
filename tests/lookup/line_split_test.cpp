#include "lookup/line_split.h"

#include <gtest/gtest.h>

using teloria::splitLines;
using teloria::TrailingBreak;

struct SplitCase {
    const char* name;
    QString text;
    QStringList box;   // as the input box splits
    QStringList file;  // as the command line splits a file: a lone CR ends a line there
};

class SplitLines : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitLines, SplitsAtLineBreaks)
{
    const SplitCase& c = GetParam();
    EXPECT_EQ(splitLines(c.text, TrailingBreak::KeepEmptyLast), c.box);
    EXPECT_EQ(splitLines(c.text, TrailingBreak::Drop, teloria::LoneCr::EndsLine), c.file);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitLines,
    ::testing::Values(
        SplitCase{"empty", "", {}, {}},
        SplitCase{"one", "13800138000", {"13800138000"}, {"13800138000"}},
        SplitCase{"lf", "1\n2", {"1", "2"}, {"1", "2"}},
        SplitCase{"crlf", "1\r\n2", {"1", "2"}, {"1", "2"}},
        SplitCase{"trailing_break", "1\r\n", {"1", ""}, {"1"}},
        SplitCase{"only_break", "\n", {"", ""}, {""}},
        SplitCase{"lone_cr", "1\r2\n3\r", {"1\r2", "3\r"}, {"1", "2", "3"}},
        SplitCase{"cr_before_crlf", "1\r\r\n2", {"1\r", "2"}, {"1", "", "2"}},
        SplitCase{"blank_middle", "1\n\n2", {"1", "", "2"}, {"1", "", "2"}},
        SplitCase{"spaces_kept", " 138 \n", {" 138 ", ""}, {" 138 "}}),
    [](const auto& info) { return std::string(info.param.name); });
