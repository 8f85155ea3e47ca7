#include "services/Text.h"
#include "workflow/InstallerName.h"

#include <gtest/gtest.h>

using namespace qorv;

using qorv::ParseInstallerName;
using qorv::SplitString;

namespace {

std::wstring TokenOf(const std::wstring& path) {
    std::wstring token = L"untouched";
    return ParseInstallerName(path, &token) ? token : L"<none>";
}

TEST(SplitString, DropsEmptyPiecesFromEdgeAndDoubledDelimiters) {
    std::vector<std::wstring> pieces;
    SplitString(L"-a--b-c-", L"-", pieces);
    EXPECT_EQ(pieces, (std::vector<std::wstring>{L"a", L"b", L"c"}));
    pieces.clear();
    SplitString(L"---", L"-", pieces);
    EXPECT_TRUE(pieces.empty());
    SplitString(L"a-b", L"", pieces);
    EXPECT_EQ(pieces, (std::vector<std::wstring>{L"a-b"}));
}

TEST(ParseInstallerName, ThreePiecesGiveTheThirdAsToken) {
    EXPECT_EQ(TokenOf(L"C:\\Users\\p\\Downloads\\QorvInstall-a-TOKEN42.exe"), L"TOKEN42");
    // The second piece never matters.
    EXPECT_EQ(TokenOf(L"C:\\d\\x-pelmar-T.exe"), L"T");
    EXPECT_EQ(TokenOf(L"x-y-T.exe"), L"T");
}

TEST(ParseInstallerName, OtherPieceCountsGiveNoToken) {
    EXPECT_EQ(TokenOf(L"C:\\d\\QorvInstall.exe"), L"<none>");
    EXPECT_EQ(TokenOf(L"C:\\d\\a-b.exe"), L"<none>");
    EXPECT_EQ(TokenOf(L"C:\\d\\a-b-c-d.exe"), L"<none>");
    EXPECT_EQ(TokenOf(L"C:\\d\\.exe"), L"<none>");
}

TEST(ParseInstallerName, LeadingTrailingAndDoubledHyphensDoNotCount) {
    EXPECT_EQ(TokenOf(L"C:\\d\\-a--b-T.exe"), L"T");
    EXPECT_EQ(TokenOf(L"C:\\d\\a-b-T-.exe"), L"T");
}

TEST(ParseInstallerName, OnlyTheLastDotCountsAndNoDotGivesNoBaseName) {
    EXPECT_EQ(TokenOf(L"C:\\d\\a-b-T.v2.exe"), L"T.v2");
    EXPECT_EQ(TokenOf(L"C:\\d\\a-b-T"), L"<none>");
    // A dot in a folder name is not the file's.
    EXPECT_EQ(TokenOf(L"C:\\d.x\\a-b-T"), L"<none>");
}

TEST(ParseInstallerName, SuffixAfterTheThirdPieceJoinsTheToken) {
    EXPECT_EQ(TokenOf(L"C:\\d\\QorvInstall-a-TOKEN42 (1).exe"), L"TOKEN42 (1)");
}

}  // namespace
