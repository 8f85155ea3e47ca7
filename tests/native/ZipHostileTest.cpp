// Hostile archives through the stages' unpack loop: whatever an archive
// holds, nothing is written or deleted outside the base directory, what is
// written never exceeds what an entry declares, and the loop goes on past
// the entries it refuses.
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "ZipTestFixture.h"
#include "delivery/Apply.h"
#include "delivery/PlanCheck.h"

using namespace qorv;

namespace {

TestZipEntry File(const std::string& name, const std::string& data) {
    TestZipEntry entry;
    entry.name = name;
    entry.data = data;
    return entry;
}

class ZipHostileTest : public ZipTest {
protected:
    // Writes the archive and puts every entry in place in "out" as a first
    // install does; true when all of them went in.
    bool Unpack(const std::string& archive) {
        Write("archive.zip", archive);
        std::vector<PackageEntry> entries;
        if (!ReadDirectory(std::vector<unsigned char>(archive.begin(), archive.end()), &entries)) {
            return false;
        }
        const std::vector<EntryPlan> plans =
            PlanEntries(entries, nullptr, Wide(Path("out")), RepairRule::kReplaceChanged);
        ApplyRequest request;
        request.archivePath = Wide(Path("archive.zip"));
        request.targetDir = Wide(Path("out"));
        request.statePath = Wide(Path("out.state"));
        request.entries = &entries;
        request.plans = &plans;
        InstallState next;
        return ApplyPackage(request, &next).status == ApplyStatus::kApplied;
    }

    // Every file and folder under the scratch root, relative to it.
    std::set<std::string> Tree() const {
        std::set<std::string> tree;
        for (const auto& item : std::filesystem::recursive_directory_iterator(m_root)) {
            tree.insert(item.path().lexically_relative(m_root).string());
        }
        return tree;
    }
};

TEST_F(ZipHostileTest, NamesThatLeaveTheBaseNeitherWriteNorDelete) {
    // Files outside the base that an escaping write or delete would reach.
    Write("up1.txt", "keep");
    Write("up2.txt", "keep");
    Write("deep.txt", "keep");
    const std::string longName(300, 'n');
    const bool complete = Unpack(BuildTestZip({
        File("../up1.txt", "x"),
        File("..\\up2.txt", "x"),
        File("a/b/c/../../../../deep.txt", "x"),
        File("a/../../up1.txt", "x"),
        File("a\\b/..\\../..\\up2.txt", "x"),
        File("a/.. /../up1.txt", "in"),  // everything up to "/../" goes
        File("ads.txt:stream", "x"),
        File("plain.txt:", "x"),
        File("C:\\drive.txt", "drive"),
        File("/abs/rooted.txt", "rooted"),
        File("\\\\server\\share\\unc.txt", "unc"),
        File(longName, "x"),
        File("bad\xff\xfe.txt", "utf8"),
        File("NUL", "device"),
        File("sub/COM1", "device"),
        File("aux.txt", "device"),
        File("ok.txt", "ok"),
    }));
    // Everything that escapes is refused, device names with it, and while a
    // package holds such a name nothing of it goes in.
    EXPECT_FALSE(complete);
    EXPECT_EQ(Read("up1.txt"), "keep");
    EXPECT_EQ(Read("up2.txt"), "keep");
    EXPECT_EQ(Read("deep.txt"), "keep");
    EXPECT_EQ(Tree(),
              (std::set<std::string>{"archive.zip", "up1.txt", "up2.txt", "deep.txt", "out"}));
    // Drive and rooted names lose their prefix and land under the base;
    // invalid UTF-8 is replaced.
    ASSERT_TRUE(Unpack(BuildTestZip({
        File("a/.. /../up1.txt", "in"),
        File("C:\\drive.txt", "drive"),
        File("/abs/rooted.txt", "rooted"),
        File("\\\\server\\share\\unc.txt", "unc"),
        File("bad\xff\xfe.txt", "utf8"),
        File("ok.txt", "ok"),
    })));
    const std::set<std::string> expected = {
        "archive.zip",
        "out.state",
        "up1.txt",
        "up2.txt",
        "deep.txt",
        "out",
        "out/drive.txt",
        "out/up1.txt",
        "out/abs",
        "out/abs/rooted.txt",
        "out/server",
        "out/server/share",
        "out/server/share/unc.txt",
        "out/bad\xef\xbf\xbd\xef\xbf\xbd.txt",
        "out/ok.txt",
    };
    EXPECT_EQ(Tree(), expected);
    EXPECT_EQ(Read("out/drive.txt"), "drive");
    EXPECT_EQ(Read("out/server/share/unc.txt"), "unc");
    EXPECT_EQ(Read("out/up1.txt"), "in");
    EXPECT_EQ(Read("out/ok.txt"), "ok");
}

TEST_F(ZipHostileTest, ReadOnlyFilesOfAnEarlierRunAreReplacedAndFailuresNamed) {
    TestZipEntry locked = File("bin/locked.dll", "v1");
    locked.versionMadeBy = 0x0014;  // DOS attributes: read-only, archive
    locked.externalAttributes = 0x21;
    ASSERT_TRUE(Unpack(BuildTestZip({locked})));
    struct stat status = {};
    ASSERT_EQ(stat(Path("out/bin/locked.dll").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0222, 0u);
    // The next update replaces it, and installs it read-only again.
    locked.data = "v2";
    EXPECT_TRUE(Unpack(BuildTestZip({locked})));
    EXPECT_EQ(Read("out/bin/locked.dll"), "v2");
    ASSERT_EQ(stat(Path("out/bin/locked.dll").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0222, 0u);
    // Each entry that fails is traced with its result.
    testing::internal::CaptureStdout();
    EXPECT_FALSE(Unpack(BuildTestZip({File("sub/COM1", "x"), File("ok.txt", "ok")})));
    const std::string trace = testing::internal::GetCapturedStdout();
    const std::string failed = "\xbd\xe2\xd1\xb9\xca\xa7\xb0\xdc 0x";
    EXPECT_NE(trace.find(failed + "200: sub/COM1\n"), std::string::npos) << trace;
    EXPECT_EQ(trace.find(failed + "200: ok.txt"), std::string::npos) << trace;
}

TEST_F(ZipHostileTest, BombStopsAtTheDeclaredSizeAndNothingGoesIn) {
    // 4 MiB of zeros deflate to a few KiB; one entry declares 4 GiB for
    // them, one declares 1000 bytes.
    const std::string zeros(4u << 20, '\0');
    TestZipEntry huge = File("huge.bin", zeros);
    huge.declaredSize = int64_t{4} << 30;
    huge.zip64 = true;
    TestZipEntry small = File("small.bin", zeros);
    small.declaredSize = 1000;
    const std::string archive = BuildTestZip({huge, small, File("after.txt", "after")});
    ASSERT_LT(archive.size(), 64u << 10);
    EXPECT_FALSE(Unpack(archive));
    // The data ran out long before 4 GiB, and inflating stops at the
    // declared size, whose CRC-32 then does not match: both failed, and
    // nothing of them is left; nor does the rest go in without them.
    EXPECT_FALSE(Exists("out/huge.bin"));
    EXPECT_FALSE(Exists("out/small.bin"));
    EXPECT_FALSE(Exists("out/after.txt"));
}

TEST_F(ZipHostileTest, AHundredThousandEntriesAreListedInOrder) {
    constexpr int32_t kCount = 100000;
    std::vector<TestZipEntry> entries;
    entries.reserve(kCount);
    for (int32_t i = 0; i < kCount; ++i) {
        TestZipEntry entry = File("d/" + std::to_string(i), i == kCount - 1 ? "last" : "");
        entry.method = 0;
        entries.push_back(entry);
    }
    TestZipLayout layout;
    layout.zip64End = true;  // the classic count field stops at 65535
    Write("archive.zip", BuildTestZip(entries, layout));
    ScopedZip zip = OpenFile("archive.zip");
    ASSERT_NE(zip, nullptr);
    ZipEntryInfo entry = {};
    ASSERT_EQ(ZipGetEntry(zip.get(), -1, &entry), ZipOk);
    ASSERT_EQ(entry.index, kCount);
    // In index order each record is one step of the walk from the last.
    for (int32_t i = 0; i < kCount; ++i) {
        ASSERT_EQ(ZipGetEntry(zip.get(), i, &entry), ZipOk) << i;
        ASSERT_EQ(entry.index, i);
        ASSERT_EQ(Narrow(entry.name), "d/" + std::to_string(i));
    }
    EXPECT_EQ(ZipExtractEntry(zip.get(), kCount - 1, entry.name), ZipOk);
    EXPECT_EQ(Read("out/d/" + std::to_string(kCount - 1)), "last");
}

// Sizes in zip64 extra fields are checked under Wine against the product's
// minizip: Debian's 64-bit build compares them with an all-ones 64-bit value
// and never reads them.
TEST_F(ZipHostileTest, Zip64EndRecordsAreRead) {
    TestZipLayout layout;
    layout.zip64End = true;
    EXPECT_TRUE(Unpack(BuildTestZip(
        {File("data.bin", std::string(70000, 'z')), File("dir/stored.txt", "stored")}, layout)));
    EXPECT_TRUE(Read("out/data.bin") == std::string(70000, 'z'));
    EXPECT_EQ(Read("out/dir/stored.txt"), "stored");
}

TEST_F(ZipHostileTest, SelfExtractorPrefixIsSkipped) {
    TestZipLayout layout;
    layout.prefix = "MZ" + std::string(5000, '\x90');
    EXPECT_TRUE(Unpack(BuildTestZip({File("a.txt", "a"), File("dir/b.txt", "b")}, layout)));
    EXPECT_EQ(Read("out/a.txt"), "a");
    EXPECT_EQ(Read("out/dir/b.txt"), "b");
}

TEST_F(ZipHostileTest, OverlappingEntriesEachWriteOnlyTheirDeclaredData) {
    // Three central records over one local entry: each extraction is the
    // shared data, checked against its own record, never more.
    TestZipEntry shared = File("one.txt", "shared data");
    TestZipEntry second = shared;
    second.name = "two.txt";
    second.sameDataAs = 0;
    TestZipEntry third = shared;
    third.name = "six.txt";
    third.sameDataAs = 0;
    EXPECT_TRUE(Unpack(BuildTestZip({shared, second, third})));
    EXPECT_EQ(Read("out/one.txt"), "shared data");
    EXPECT_EQ(Read("out/two.txt"), "shared data");
    EXPECT_EQ(Read("out/six.txt"), "shared data");
}

TEST_F(ZipHostileTest, ACentralDirectoryClaimingMoreEntriesIsRefused) {
    TestZipLayout layout;
    layout.claimedEntries = 5;
    const std::string archive = BuildTestZip({File("a.txt", "a"), File("b.txt", "b")}, layout);
    Write("claims.zip", archive);
    {
        ScopedZip zip = OpenFile("claims.zip");
        ASSERT_NE(zip, nullptr);
        ZipEntryInfo entry = {};
        ASSERT_EQ(ZipGetEntry(zip.get(), -1, &entry), ZipOk);
        EXPECT_GE(entry.index, 2);
        // The walk past the last record fails, then and every time after.
        EXPECT_EQ(ZipGetEntry(zip.get(), 2, &entry), ZipErrRead);
        EXPECT_EQ(ZipGetEntry(zip.get(), 2, &entry), ZipErrRead);
        EXPECT_EQ(ZipGetEntry(zip.get(), 1, &entry), ZipOk);
        EXPECT_EQ(Narrow(entry.name), "b.txt");
    }
    // A directory that does not hold what its end record claims is no
    // package to install.
    EXPECT_FALSE(Unpack(archive));
    EXPECT_FALSE(Exists("out/a.txt"));
}

// Found by the archive fuzz target: a zip64 end record claiming 2^31 entries
// over one real record kept the unpack loop going for billions of indexes.
TEST_F(ZipHostileTest, ClaimedEntryCountIsBoundedByTheArchiveSize) {
    TestZipLayout layout;
    layout.zip64End = true;
    layout.claimedEntries = int64_t{1} << 31;
    const std::string archive = BuildTestZip({File("real.txt", "real")}, layout);
    Write("claims.zip", archive);
    {
        ScopedZip zip = OpenFile("claims.zip");
        ASSERT_NE(zip, nullptr);
        ZipEntryInfo entry = {};
        ASSERT_EQ(ZipGetEntry(zip.get(), -1, &entry), ZipOk);
        // A central record takes at least 46 bytes.
        EXPECT_GE(entry.index, 1);
        ASSERT_LE(static_cast<uint64_t>(entry.index), archive.size() / 46);
    }
    EXPECT_FALSE(Unpack(archive));
    EXPECT_FALSE(Exists("out/real.txt"));
}

// Little-endian bytes of value, for splicing end records.
std::string Le(uint64_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

TEST_F(ZipHostileTest, APlanIsConfirmedAgainstTheDirectoryTheZipLayerReads) {
    std::vector<TestZipEntry> entries = {File("a.txt", std::string(3000, 'a')),
                                         File("b.txt", std::string(3000, 'b'))};
    const std::string package = BuildTestZip(entries);
    // The same layout with another CRC-32 for b.txt: a second directory.
    entries[1].crc = 0x12345678;
    const std::string other = BuildTestZip(entries);
    const std::vector<unsigned char> bytes(package.begin(), package.end());
    qorv::DirectoryLocation at;
    ASSERT_TRUE(qorv::LocateDirectory(bytes, &at));
    const std::string ownDirectory = package.substr(at.offset, at.size);
    const std::string otherDirectory = other.substr(at.offset, at.size);
    ASSERT_EQ(package.size(), at.offset + at.size + 22);
    // The end record's comment holds the second directory and an end record
    // for it that stops a byte short of the file's end: the planner takes the
    // record whose comment reaches the end, minizip the last one it finds.
    const std::string otherEnd = "PK\x05\x06" + Le(0, 4) + Le(2, 2) + Le(2, 2) + Le(at.size, 4) +
                                 Le(at.offset + at.size + 22, 4) + Le(0, 2);
    const std::string comment = otherDirectory + otherEnd + "x";
    const std::string spliced =
        package.substr(0, package.size() - 2) + Le(comment.size(), 2) + comment;

    std::vector<qorv::PackageEntry> planned;
    ASSERT_TRUE(qorv::ReadDirectory(bytes, &planned));
    std::vector<qorv::PackageEntry> plannedSpliced;
    ASSERT_TRUE(qorv::ReadDirectory({spliced.begin(), spliced.end()}, &plannedSpliced));
    EXPECT_EQ(plannedSpliced[1].crc, planned[1].crc);
    Write("package.zip", package);
    Write("spliced.zip", spliced);
    const std::wstring packagePath = Wide(Path("package.zip"));
    const std::wstring splicedPath = Wide(Path("spliced.zip"));
    EXPECT_TRUE(qorv::ArchiveMatchesPlan(packagePath.c_str(), planned, nullptr));
    EXPECT_FALSE(qorv::ArchiveMatchesPlan(splicedPath.c_str(), plannedSpliced, nullptr));
    // Only the entries to extract are compared; the count always is.
    const std::vector<bool> first = {true, false};
    EXPECT_TRUE(qorv::ArchiveMatchesPlan(splicedPath.c_str(), plannedSpliced, &first));
    planned.pop_back();
    EXPECT_FALSE(qorv::ArchiveMatchesPlan(packagePath.c_str(), planned, &first));
}

}  // namespace
