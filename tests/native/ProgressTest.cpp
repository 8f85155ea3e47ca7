#include "view/Progress.h"

#include <gtest/gtest.h>

using namespace qorv;

using qorv::ComputeProgress;

namespace {

TEST(ComputeProgress, FilePercentagesFoldIntoTheBandWithFactorPoint3333) {
    const struct {
        uint32_t filePercent;
        int added;
    } cases[] = {{0, 0},   {1, 0},   {2, 0},   {3, 0},    {4, 1},   {30, 9},
                 {31, 10}, {50, 16}, {99, 32}, {100, 33}, {150, 49}};
    for (int step = 1; step <= 3; ++step) {
        for (const auto& c : cases) {
            auto report = ComputeProgress(c.filePercent, 100, step);
            EXPECT_EQ(report.filePercent, static_cast<int>(c.filePercent));
            EXPECT_EQ(report.percent, 33 * step - 33 + c.added)
                << "step " << step << " file " << c.filePercent;
        }
    }
}

TEST(ComputeProgress, UnknownLengthGivesTheStageBase) {
    for (int step = 1; step <= 3; ++step) {
        auto report = ComputeProgress(123456, 0, step);
        EXPECT_EQ(report.filePercent, 0);
        EXPECT_EQ(report.percent, 33 * step - 33);
    }
}

TEST(ComputeProgress, FilePercentageTruncatesFromRealCounters) {
    // 2 of 3 bytes is 66.66 %, truncated to 66, which adds 21.
    EXPECT_EQ(ComputeProgress(2, 3, 2).filePercent, 66);
    EXPECT_EQ(ComputeProgress(2, 3, 2).percent, 33 + 21);
}

TEST(ComputeProgress, CountersAtOrAbove2To31AreUnsigned) {
    const uint32_t threeGiB = 3u * 1024 * 1024 * 1024;
    auto half = ComputeProgress(threeGiB / 2, threeGiB, 1);
    EXPECT_EQ(half.filePercent, 50);
    EXPECT_EQ(half.percent, 16);
    EXPECT_EQ(ComputeProgress(0xFFFFFFFFu, 0xFFFFFFFFu, 3).percent, 99);
}

}  // namespace
