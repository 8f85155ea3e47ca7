// The uninstaller's walk on a real tree: links inside are removed as links,
// and what they point to survives.
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "services/Text.h"
#include "uninstall/RemoveTree.h"

using namespace qorv;

namespace fs = std::filesystem;

namespace {

class RemoveTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qorv-remove-tree-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
    }
    void TearDown() override { fs::remove_all(root); }

    static void Write(const fs::path& path) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "data";
    }
    static std::wstring Wide(const fs::path& path) {
        const std::string text = path.string();
        return qorv::Utf8ToUtf16(text.data(), text.size());
    }

    fs::path root;
};

TEST_F(RemoveTreeTest, RemovesEverythingAndOnlyTheLinksThemselves) {
    const fs::path install = root / "qorv";
    const fs::path outside = root / "other";
    Write(outside / "keep.txt");
    Write(outside / "inner" / "deep.txt");
    Write(install / "Qorv.exe");
    Write(install / "GameClient" / "res" / "level1.dat");
    // Packages may install files read-only; the uninstaller removes them too.
    Write(install / "GameClient" / "locked.dll");
    fs::permissions(install / "GameClient" / "locked.dll", fs::perms::owner_read);
    fs::create_directories(install / "data" / "empty");
    fs::create_directory_symlink(outside, install / "GameClient" / "linked-folder");
    fs::create_symlink(outside / "keep.txt", install / "linked-file.txt");
    fs::create_directory_symlink(root / "missing", install / "dangling");

    std::vector<std::wstring> failed;
    EXPECT_TRUE(qorv::RemoveTree(Wide(install) + L"\\", &failed));
    EXPECT_TRUE(failed.empty());
    EXPECT_FALSE(fs::exists(fs::symlink_status(install)));
    EXPECT_TRUE(fs::is_regular_file(outside / "keep.txt"));
    EXPECT_TRUE(fs::is_regular_file(outside / "inner" / "deep.txt"));
}

TEST_F(RemoveTreeTest, AMissingFolderIsReportedNotRemoved) {
    std::vector<std::wstring> failed;
    const std::wstring missing = Wide(root / "absent");
    EXPECT_FALSE(qorv::RemoveTree(missing, &failed));
    EXPECT_EQ(failed, std::vector<std::wstring>{missing});
}

}  // namespace
