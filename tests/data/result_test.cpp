#include "platform/result.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace teloria {
namespace {

// What a Result hands on: the value when it holds one, otherwise the kind
// and reason it was made with; equal only to what holds the same.
struct ResultCase {
    const char* name;
    Result<std::string> result;
    std::optional<std::string> value; // nothing: an error
    ErrorKind kind;
    const char* reason;
};

void PrintTo(const ResultCase& c, std::ostream* os) { *os << c.name; }

class ResultTest : public ::testing::TestWithParam<ResultCase> {};

TEST_P(ResultTest, HoldsTheValueOrTheTypedError)
{
    const ResultCase& c = GetParam();
    ASSERT_EQ(c.result.ok(), c.value.has_value());
    EXPECT_EQ(static_cast<bool>(c.result), c.value.has_value());
    if (c.value) {
        EXPECT_EQ(*c.result, *c.value);
        EXPECT_EQ(c.result->size(), c.value->size());
        EXPECT_EQ(c.result, *c.value);
        EXPECT_FALSE(c.result == *c.value + "x");
        Result<std::string> moved = c.result;
        EXPECT_EQ(std::move(moved).value(), *c.value);
    } else {
        EXPECT_EQ(c.result.error().kind, c.kind);
        EXPECT_EQ(c.result.error().reason, c.reason);
        EXPECT_EQ(c.result, (Result<std::string>(Error{c.kind, c.reason})));
        EXPECT_FALSE(c.result == std::string(c.reason)); // an error never equals a value, even its own reason
        EXPECT_FALSE(c.result == (Result<std::string>(Error{c.kind, std::string(c.reason) + "x"})));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ResultTest, ::testing::Values(
    ResultCase{"Value", std::string("1380013"), "1380013", ErrorKind::Io, ""},
    ResultCase{"ValueFromText", "广东 深圳", "广东 深圳", ErrorKind::Io, ""},
    ResultCase{"EmptyValue", std::string(), "", ErrorKind::Io, ""},
    ResultCase{"NotFound", Error{ErrorKind::NotFound, "cannot open: No such file or directory"}, std::nullopt,
               ErrorKind::NotFound, "cannot open: No such file or directory"},
    ResultCase{"Busy", Error{ErrorKind::Busy, "database is locked"}, std::nullopt, ErrorKind::Busy,
               "database is locked"},
    ResultCase{"RefusedWithoutReason", Error{ErrorKind::Refused, ""}, std::nullopt, ErrorKind::Refused, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A step that gives nothing back: success, or the error it was made with.
TEST(ResultOfNothing, IsSuccessOrTheError)
{
    const Result<void> done;
    EXPECT_TRUE(done.ok());
    const Result<void> failed = Error{ErrorKind::Damaged, "not a database"};
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error(), (Error{ErrorKind::Damaged, "not a database"}));
}

} // namespace
} // namespace teloria
