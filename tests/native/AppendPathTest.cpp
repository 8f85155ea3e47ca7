// The one join of a folder and a name, on both builds: names from a package
// or the disk are taken literally, and a path that does not fit is no path.
#include <gtest/gtest.h>

#include <string>

#include "services/FileSystem.h"

using namespace qorv;

using qorv::AppendPath;
using qorv::kMaxPathChars;

namespace {

TEST(AppendPath, JoinsNamesLiterallyWhateverTheyBeginWith) {
    const std::wstring deepFolder =
        L"C:\\Users\\" + std::wstring(111, L'p') + L"\\tovrine\\qorv\\GameClient\\";
    const std::wstring deepName =
        L"res\\" + std::wstring(95, L'a') + L"\\" + std::wstring(96, L'b') + L".bin";
    const struct {
        std::wstring directory;
        std::wstring name;
        std::wstring joined;
    } cases[] = {
        {L"C:\\qorv\\", L"..2\\readme.txt", L"C:\\qorv\\..2\\readme.txt"},
        {L"C:\\qorv\\GameClient", L"..a\\..b\\..Low\\save.dat",
         L"C:\\qorv\\GameClient\\..a\\..b\\..Low\\save.dat"},
        {L"C:\\qorv\\", L"..cfg", L"C:\\qorv\\..cfg"},
        {L"C:\\qorv\\", L"...", L"C:\\qorv\\..."},
        {L"C:\\qorv\\", L".hidden", L"C:\\qorv\\.hidden"},
        {L"C:\\qorv/", L"a", L"C:\\qorv/a"},
        {L"", L"C:\\qorv\\", L"C:\\qorv\\"},
        {L"C:\\qorv", L"", L"C:\\qorv"},
        // Past MAX_PATH: a 200-character name under a long profile.
        {deepFolder, deepName, deepFolder + deepName},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AppendPath(c.directory, c.name), c.joined) << c.name;
    }
}

TEST(AppendPath, APathLongerThanTheBoundIsNoPath) {
    const std::wstring directory = L"C:\\" + std::wstring(200, L'd') + L"\\";
    const std::wstring fits(kMaxPathChars - directory.size(), L'n');
    EXPECT_EQ(AppendPath(directory, fits), directory + fits);
    EXPECT_EQ(AppendPath(directory, fits + L"n"), L"");
    // The separator it adds counts too.
    const std::wstring bare = directory.substr(0, directory.size() - 1);
    EXPECT_EQ(AppendPath(bare, fits), directory + fits);
    EXPECT_EQ(AppendPath(bare, fits + L"n"), L"");
    EXPECT_EQ(AppendPath(std::wstring(kMaxPathChars + 1, L'd'), L""), L"");
}

}  // namespace
