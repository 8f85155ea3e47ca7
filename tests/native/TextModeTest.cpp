#include <gtest/gtest.h>

#include "workflow/TextFile.h"

using qorv::TextModeBytes;

namespace {

TEST(TextModeBytes, CrLfBecomesLfAndLoneCarriageReturnsStay) {
    EXPECT_EQ(TextModeBytes("1.0\r\n2.0\r\n"), "1.0\n2.0\n");
    EXPECT_EQ(TextModeBytes("a\rb\r"), "a\rb\r");
    EXPECT_EQ(TextModeBytes("a\r\r\nb"), "a\r\nb");
}

TEST(TextModeBytes, DataEndsAtTheFirstCtrlZ) {
    EXPECT_EQ(TextModeBytes("v1\x1a tail"), "v1");
    EXPECT_EQ(TextModeBytes("\x1a"), "");
}

TEST(TextModeBytes, CopiesThatDifferOnlyInLineEndsReadEqual) {
    EXPECT_EQ(TextModeBytes("x\r\ny\r\n"), TextModeBytes("x\ny\n"));
    EXPECT_NE(TextModeBytes("x\ny\n"), TextModeBytes("x\ny"));
    EXPECT_NE(TextModeBytes("V1"), TextModeBytes("v1"));
}

}  // namespace
