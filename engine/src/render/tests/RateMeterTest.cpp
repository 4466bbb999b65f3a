#include "RateMeter.h"

#include <gtest/gtest.h>

#include <vector>

namespace lagwell {
namespace {

struct RateCase {
    const char* name;
    std::vector<int64_t> eventsMs;
    double expectedRate;
};

class RateMeterTest : public ::testing::TestWithParam<RateCase> {};

TEST_P(RateMeterTest, reportsTheLastCompletedWindow)
{
    RateMeter meter;
    for (int64_t at : GetParam().eventsMs)
        meter.count(at);
    EXPECT_DOUBLE_EQ(meter.rate(), GetParam().expectedRate);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RateMeterTest,
    ::testing::Values(RateCase {"nothingUntilASecondPassed", {5000, 5300, 5999}, 0.0},
                      RateCase {"firstEventOpensTheWindowAndCounts", {5000, 5500, 6000}, 3.0},
                      RateCase {"longWindowIsAveraged", {5000, 7000}, 1.0},
                      RateCase {"nextWindowStartsEmpty", {5000, 5500, 6000, 6500, 7000}, 2.0},
                      RateCase {"unfinishedWindowKeepsTheOldRate", {5000, 5500, 6000, 6200}, 3.0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lagwell
