#include <gtest/gtest.h>

#include "workflow/TextMode.h"
#include "workflow/VersionDigest.h"

using namespace qorv;

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

// The version text names a package digest only when it is exactly what the
// kit writes, give or take case and surrounding whitespace.
TEST(ParseSha256Hex, OnlyA64DigitHexTextNamesADigest) {
    const std::wstring hex = L"00ff10a0b1c2d3e4f5a6b7c8d9eafb0c1d2e3f4a5b6c7d8e9f00112233445566";
    struct Row {
        std::wstring text;
        bool names;
    };
    const Row rows[] = {
        {hex, true},
        {L" \t" + hex + L"\r\n", true},
        {L"00FF10A0B1C2D3E4F5A6B7C8D9EAFB0C1D2E3F4A5B6C7D8E9F00112233445566", true},
        {hex.substr(1), false},
        {hex + L"7", false},
        {hex.substr(0, 63) + L"g", false},
        {hex.substr(0, 32) + L" " + hex.substr(32), false},
        {L"1.0.0\r\n", false},
        {L"", false},
        {L"  \r\n", false},
    };
    for (const Row& row : rows) {
        qorv::Sha256Digest digest{};
        EXPECT_EQ(qorv::ParseSha256Hex(row.text, &digest), row.names) << row.text.size();
    }
    qorv::Sha256Digest digest{};
    ASSERT_TRUE(qorv::ParseSha256Hex(L"\n" + hex + L"\n", &digest));
    EXPECT_EQ(digest[0], 0x00);
    EXPECT_EQ(digest[1], 0xff);
    EXPECT_EQ(digest[3], 0xa0);
    EXPECT_EQ(digest[31], 0x66);
}

}  // namespace
