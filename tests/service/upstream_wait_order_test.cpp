// The order of a waiting lookup's two sides: the handler that suspends its
// connection and the upstream's answer (or the server's stop) that resumes
// it. Whichever comes first, a connection is suspended only while an answer
// is still to come, and resumed once.
#include "service/upstream_wait.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace teloria::service {
namespace {

enum class Step { Handler, Answer };

struct OrderCase {
    const char* name;
    bool asked;
    std::vector<Step> steps;
    bool suspended; // what the handler's side returns
    int resumes;
};

void PrintTo(const OrderCase& c, std::ostream* os) { *os << c.name; }

class UpstreamWaitOrderTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(UpstreamWaitOrderTest, SuspendsOnlyWhileAnAnswerIsToCome)
{
    const OrderCase& c = GetParam();
    UpstreamWait wait;
    int suspends = 0;
    int resumes = 0;
    bool suspended = false;
    for (const Step step : c.steps) {
        if (step == Step::Handler)
            suspended = wait.suspendUnlessAnswered(c.asked, [&] { ++suspends; });
        else
            wait.finish([&] { ++resumes; });
    }
    EXPECT_EQ(suspended, c.suspended);
    EXPECT_EQ(suspends, c.suspended ? 1 : 0);
    EXPECT_EQ(resumes, c.resumes);
    // A suspended connection that is never resumed hangs until the server stops.
    EXPECT_EQ(suspends, resumes);
}

INSTANTIATE_TEST_SUITE_P(Cases, UpstreamWaitOrderTest, ::testing::Values(
    OrderCase{"AnswerAfterTheHandler", true, {Step::Handler, Step::Answer}, true, 1},
    OrderCase{"AnswerBeforeTheHandler", true, {Step::Answer, Step::Handler}, false, 0},
    OrderCase{"NotAsked", false, {Step::Handler}, false, 0},
    OrderCase{"StopThenTheLateAnswer", true, {Step::Handler, Step::Answer, Step::Answer}, true, 1},
    OrderCase{"StopBeforeTheHandlerThenTheAnswer", true, {Step::Answer, Step::Handler, Step::Answer}, false, 0}
));

} // namespace
} // namespace teloria::service
