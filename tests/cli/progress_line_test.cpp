// The batch's progress line on a terminal: count, rate and time left.
#include "cli/terminal_ports.h"

#include <gtest/gtest.h>

namespace teloria::cli {
namespace {

struct BarCase {
    long long done;
    double fraction, seconds;
    const char* text;
};

class BatchProgressLine : public ::testing::TestWithParam<BarCase> {};

TEST_P(BatchProgressLine, ShowsCountRateAndTimeLeft)
{
    const BarCase& c = GetParam();
    EXPECT_EQ(ProgressBar::line(c.done, c.fraction, c.seconds, 10).toStdString(), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    States, BatchProgressLine,
    ::testing::Values(BarCase{0, 0.0, 0.0, "[..........] 0 numbers  0/s  --:-- left"},
                      BarCase{5, 0.5, 1.0, "[#####.....] 5 numbers  5/s  0:01 left"},
                      BarCase{1'000, 0.01, 1.0, "[..........] 1000 numbers  1000/s  1:39 left"},
                      BarCase{10, 1.0, 2.0, "[##########] 10 numbers  5/s  0:00 left"},
                      BarCase{1, -1.0, 2.0, "1 number  1/s"}));

} // namespace
} // namespace teloria::cli
