#include <gtest/gtest.h>

#include <string>

#include "services/zip/ZipNames.h"
#include "services/zip/ZipPaths.h"

using namespace qorv;

namespace {

std::wstring Clean(const wchar_t* name) {
    wchar_t buffer[kZipMaxPath] = {};
    wcsncpy(buffer, name, kZipMaxPath - 1);
    ZipCleanName(buffer);
    return buffer;
}

TEST(ZipCleanName, AppliesTheRulesInOrderUntilNoneMatches) {
    EXPECT_EQ(Clean(L"C:\\Windows\\a.dll"), L"Windows\\a.dll");
    EXPECT_EQ(Clean(L"/etc/a"), L"etc/a");
    EXPECT_EQ(Clean(L"a\\..\\b\\c.txt"), L"b\\c.txt");
    EXPECT_EQ(Clean(L"x/..\\y"), L"y");
    EXPECT_EQ(Clean(L"dir\\..\\..\\z.txt"), L"..\\z.txt");
    EXPECT_EQ(Clean(L"sub/file.txt"), L"sub/file.txt");
    // Each change starts the rules again: drive, then separators, then "/../".
    EXPECT_EQ(Clean(L"C:\\/a/../b"), L"b");
    EXPECT_EQ(Clean(L"a/../b/../c"), L"c");
    EXPECT_EQ(Clean(L"../a.txt"), L"../a.txt");
    EXPECT_EQ(Clean(L""), L"");
}

TEST(ZipTargetEscapesBase, RefusesParentsStreamsAndDevicesInRelativeTargets) {
    EXPECT_TRUE(ZipTargetEscapesBase(L"..\\z.txt"));
    EXPECT_TRUE(ZipTargetEscapesBase(L"a/../../b"));
    EXPECT_TRUE(ZipTargetEscapesBase(L"a/.."));
    EXPECT_TRUE(ZipTargetEscapesBase(L"a\\.. \\b"));  // Windows trims the space
    EXPECT_TRUE(ZipTargetEscapesBase(L"a/.../b"));
    EXPECT_TRUE(ZipTargetEscapesBase(L"file.txt:stream"));
    EXPECT_TRUE(ZipTargetEscapesBase(L"dir/..\\"));
    EXPECT_FALSE(ZipTargetEscapesBase(L"a/..b/c..d/.e"));
    EXPECT_FALSE(ZipTargetEscapesBase(L"sub/file.txt"));
    EXPECT_FALSE(ZipTargetEscapesBase(L"./x"));
    // Device names, in any folder, any case, with an extension or trailing
    // dots and spaces.
    for (const wchar_t* device :
         {L"NUL", L"aux", L"sub/COM1", L"CON.txt", L"lpt1.log", L"prn", L"a\\Com9\\b",
          L"nul.tar.gz", L"CON .txt", L"AUX. .", L"com\u00B9", L"LPT\u00B3.x", L"d/lpt5/"}) {
        EXPECT_TRUE(ZipTargetEscapesBase(device)) << device;
    }
    for (const wchar_t* name : {L"CONX", L"con2", L"COM0", L"LPT", L"COM10", L"xnul", L"nul_",
                                L"auxi.txt", L"com\u00B4", L"sub/prn1.txt", L".nul"}) {
        EXPECT_FALSE(ZipTargetEscapesBase(name)) << name;
    }
    // Absolute targets come from callers, not archives.
    EXPECT_FALSE(ZipTargetEscapesBase(L"D:\\x\\..\\y.txt"));
    EXPECT_FALSE(ZipTargetEscapesBase(L"/x/../y"));
}

TEST(ZipDecodeName, DecodesUtf8AndRefusesWhatDoesNotFit) {
    wchar_t name[kZipMaxPath];
    const char utf8[] = "\xe4\xb8\xad/\xff.txt";
    ASSERT_TRUE(ZipDecodeName(utf8, sizeof(utf8) - 1, name));
    EXPECT_EQ(std::wstring(name), std::wstring(L"\x4E2D/\xFFFD.txt"));
    const std::string fits(259, 'a');
    ASSERT_TRUE(ZipDecodeName(fits.data(), fits.size(), name));
    EXPECT_EQ(wcslen(name), 259u);
    const std::string tooLong(260, 'a');
    EXPECT_FALSE(ZipDecodeName(tooLong.data(), tooLong.size(), name));
    ASSERT_TRUE(ZipDecodeName("", 0, name));
    EXPECT_EQ(name[0], L'\0');
}

TEST(ZipPaths, SplitsAtTheLastSeparator) {
    const wchar_t* file = nullptr;
    EXPECT_EQ(ZipSplitTarget(L"a\\b/c.txt", &file), L"a\\b/");
    EXPECT_EQ(std::wstring(file), L"c.txt");
    EXPECT_EQ(ZipSplitTarget(L"plain.txt", &file), L"");
    EXPECT_EQ(std::wstring(file), L"plain.txt");
}

}  // namespace
