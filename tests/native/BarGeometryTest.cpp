#include "view/BarGeometry.h"

#include <gtest/gtest.h>

#include <climits>

using namespace qorv;

namespace {

TEST(BarWidth, FollowsThePercentageOfTheFullBarWithinOneToFull) {
    const struct {
        int percent;
        int width;
    } cases[] = {{INT_MIN, 1}, {-5, 1},   {0, 1},     {1, 4},     {3, 13},       {33, 145},
                 {66, 291},    {99, 436}, {100, 441}, {101, 441}, {INT_MAX, 441}};
    for (const auto& c : cases) {
        EXPECT_EQ(qorv::BarWidth(c.percent, 441), c.width) << "percent " << c.percent;
    }
}

TEST(BarWidth, TruncatesRatherThanRounds) {
    // 2 x 441 / 100 = 8.82 and 50 x 441 / 100 = 220.5.
    EXPECT_EQ(qorv::BarWidth(2, 441), 8);
    EXPECT_EQ(qorv::BarWidth(50, 441), 220);
}

}  // namespace
