#include "services/Text.h"

#include <gtest/gtest.h>

using namespace qorv;

using qorv::Utf16ToUtf8;
using qorv::Utf8ToUtf16;

namespace {

std::wstring Decode(const std::string& bytes) {
    return Utf8ToUtf16(bytes.data(), bytes.size());
}

TEST(Utf8ToUtf16, DecodesToUtf16UnitsIncludingSurrogatePairs) {
    EXPECT_EQ(Decode("a/b"), L"a/b");
    EXPECT_EQ(Decode("\xe4\xb8\xad"), std::wstring(1, wchar_t(0x4E2D)));
    const std::wstring pair = Decode("\xf0\x9f\x98\x80");  // U+1F600
    ASSERT_EQ(pair.size(), 2u);
    EXPECT_EQ(pair[0], wchar_t(0xD83D));
    EXPECT_EQ(pair[1], wchar_t(0xDE00));
}

TEST(Utf8ToUtf16, ReplacesInvalidSequencesAndKeepsGoing) {
    EXPECT_EQ(Decode("a\xff"
                     "b"),
              std::wstring(L"a\xFFFD"
                           L"b"));
    EXPECT_EQ(Decode("\xe4\xb8"
                     "x"),
              std::wstring(L"\xFFFD"
                           L"x"));                                 // truncated
    EXPECT_EQ(Decode("\xc0\xaf"), std::wstring(L"\xFFFD\xFFFD"));  // overlong lead
    EXPECT_EQ(Decode("\xed\xa0\x80").find(L'\xFFFD'), 0u);         // surrogate
    EXPECT_EQ(Decode("\xe4"), std::wstring(L"\xFFFD"));            // cut at the end
}

TEST(Utf16ToUtf8, RoundTripsAndReplacesUnpairedSurrogates) {
    const std::string text = "GameClient\\\xe4\xb8\xad\xf0\x9f\x98\x80.txt";
    EXPECT_EQ(Utf16ToUtf8(Decode(text)), text);
    const wchar_t lone[] = {L'a', wchar_t(0xD800), L'b'};
    EXPECT_EQ(Utf16ToUtf8(lone, 3),
              "a\xef\xbf\xbd"
              "b");
}

}  // namespace
