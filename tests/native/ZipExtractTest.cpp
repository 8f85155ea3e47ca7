#include <unistd.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "ZipTestFixture.h"
#include "services/ClosePool.h"
#include "services/FileSystem.h"
#include "services/zip/ZipReadAhead.h"
#include "services/zip/ZipTimes.h"

using namespace qorv;

namespace {

constexpr uint64_t kEpoch = 0x019DB1DED53E8000ULL;

TestZipEntry File(const std::string& name, const std::string& data) {
    TestZipEntry entry;
    entry.name = name;
    entry.data = data;
    return entry;
}

TestZipEntry Directory(const std::string& name) {
    TestZipEntry entry;
    entry.name = name;
    entry.method = 0;
    entry.externalAttributes = 0x41ED0000;
    return entry;
}

struct stat StatOf(const std::string& path) {
    struct stat status = {};
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return status;
}

uint64_t ToFileTime(const timespec& time) {
    return static_cast<uint64_t>(time.tv_sec) * 10000000 + time.tv_nsec / 100 + kEpoch;
}

size_t CountEntries(const char* folder) {
    size_t count = 0;
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        (void)item;
        ++count;
    }
    return count;
}

TEST_F(ZipTest, CountQueryAndIndexesOutOfRange) {
    ScopedZip zip = OpenEntries({File("a.txt", "a"), File("b.txt", "b"), File("c.txt", "c")});
    ZipEntryInfo entry;
    memset(&entry, 0x5A, sizeof(entry));
    ASSERT_EQ(ZipGetEntry(zip.get(), -1, &entry), ZipOk);
    EXPECT_EQ(entry.index, 3);
    EXPECT_EQ(entry.name[0], L'\0');
    EXPECT_EQ(entry.attributes, 0u);
    EXPECT_EQ(ZipFileTimeToUint64(entry.writeTime) | ZipFileTimeToUint64(entry.accessTime) |
                  ZipFileTimeToUint64(entry.creationTime),
              0u);
    EXPECT_EQ(entry.compressedSize | entry.uncompressedSize, 0u);

    ZipEntryInfo untouched;
    memset(&untouched, 0x5A, sizeof(untouched));
    ZipEntryInfo probe = untouched;
    EXPECT_EQ(ZipGetEntry(zip.get(), -2, &probe), ZipErrArgs);
    EXPECT_EQ(ZipLastResult(), ZipErrArgs);
    EXPECT_EQ(ZipGetEntry(zip.get(), 3, &probe), ZipErrArgs);
    EXPECT_EQ(memcmp(&probe, &untouched, sizeof(probe)), 0);
    EXPECT_EQ(ZipExtractEntry(zip.get(), 3, L"x"), ZipErrArgs);
    EXPECT_EQ(ZipExtractEntry(zip.get(), -1, L"x"), ZipErrArgs);

    ScopedZip empty = OpenEntries({});
    ASSERT_EQ(ZipGetEntry(empty.get(), -1, &entry), ZipOk);
    EXPECT_EQ(entry.index, 0);
    EXPECT_EQ(ZipGetEntry(empty.get(), 0, &entry), ZipErrArgs);
    EXPECT_EQ(ZipExtractEntry(empty.get(), 0, L"x"), ZipErrArgs);
}

TEST_F(ZipTest, HandleChecksAndOpenFailures) {
    ZipEntryInfo entry = {};
    EXPECT_EQ(ZipSetBaseDir(nullptr, L"x"), ZipErrArgs);
    EXPECT_EQ(ZipGetEntry(nullptr, 0, &entry), ZipErrArgs);
    EXPECT_EQ(ZipExtractEntry(nullptr, 0, L"x"), ZipErrArgs);
    EXPECT_EQ(ZipClose(nullptr), ZipErrArgs);
    EXPECT_EQ(ZipLastResult(), ZipErrArgs);

    ZipHandleData wrongKind = {2, nullptr};
    EXPECT_EQ(ZipSetBaseDir(&wrongKind, L"x"), ZipErrMode);
    EXPECT_EQ(ZipGetEntry(&wrongKind, 0, &entry), ZipErrMode);
    EXPECT_EQ(ZipExtractEntry(&wrongKind, 0, L"x"), ZipErrMode);
    EXPECT_EQ(ZipClose(&wrongKind), ZipErrMode);
    EXPECT_EQ(ZipLastResult(), ZipErrMode);

    Write("not.zip", std::string(4096, 'x'));
    EXPECT_EQ(ZipOpen(Wide(Path("not.zip")).c_str()), nullptr);
    EXPECT_EQ(ZipLastResult(), ZipErrFile);
    EXPECT_EQ(ZipOpen(Wide(Path("missing.zip")).c_str()), nullptr);
    EXPECT_EQ(ZipLastResult(), ZipErrFile);
    // Cut inside the central directory.
    const std::string whole = BuildTestZip({File("a.txt", "abc"), File("b.txt", "def")});
    Write("cut.zip", whole.substr(0, whole.size() - 40));
    EXPECT_EQ(ZipOpen(Wide(Path("cut.zip")).c_str()), nullptr);
    EXPECT_EQ(ZipLastResult(), ZipErrFile);

    Write("good.zip", whole);
    ZipHandle handle = ZipOpen(Wide(Path("good.zip")).c_str());
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->kind, kZipKindExtract);
    EXPECT_EQ(ZipLastResult(), ZipOk);
    EXPECT_EQ(ZipClose(handle), ZipOk);
}

TEST_F(ZipTest, AttributesFollowTheHostSystem) {
    TestZipEntry unixDir = Directory("d/");
    TestZipEntry unixReadOnly = File("ro.txt", "r");
    unixReadOnly.externalAttributes = 0x81240000;
    TestZipEntry dosAll = File("dos.txt", "d");
    dosAll.versionMadeBy = 0x0014;  // host 0
    dosAll.externalAttributes = 0x27;
    TestZipEntry ntfsPlain = File("ntfs.txt", "n");
    ntfsPlain.versionMadeBy = 0x0B14;  // host 11, no archive bit
    ntfsPlain.externalAttributes = 0x81A40000 | 0x02;
    TestZipEntry vfatDir = Directory("v/");
    vfatDir.versionMadeBy = 0x0E14;  // host 14
    vfatDir.externalAttributes = 0x10;
    ScopedZip zip = OpenEntries({unixDir, unixReadOnly, dosAll, ntfsPlain, vfatDir});
    const uint32_t expected[] = {0x30, 0x21, 0x27, 0x02, 0x10};
    for (int32_t i = 0; i < 5; ++i) {
        ZipEntryInfo entry = {};
        ASSERT_EQ(ZipGetEntry(zip.get(), i, &entry), ZipOk);
        EXPECT_EQ(entry.attributes, expected[i]) << i;
    }
}

TEST_F(ZipTest, RecordTimesFromDosStampAndExtendedTimes) {
    setenv("TZ", "UTC0", 1);
    tzset();
    TestZipEntry writeOnly = File("w.txt", "w");
    writeOnly.localExtra = ExtendedTimeBlock(1, {0});
    TestZipEntry all = File("all.txt", "a");
    all.localExtra = ExtendedTimeBlock(7, {-1, 86400, 1000000000});
    TestZipEntry invalid = File("bad.txt", "b");
    invalid.dosDateTime = 0;
    ScopedZip zip = OpenEntries({writeOnly, all, invalid});

    ZipEntryInfo entry = {};
    ASSERT_EQ(ZipGetEntry(zip.get(), 0, &entry), ZipOk);
    const uint64_t dos = 1588388646ULL * 10000000 + kEpoch;  // 2020-05-02 03:04:06 UTC
    EXPECT_EQ(ZipFileTimeToUint64(entry.writeTime), 0x019DB1DED53E8000u);
    EXPECT_EQ(ZipFileTimeToUint64(entry.accessTime), dos);
    EXPECT_EQ(ZipFileTimeToUint64(entry.creationTime), dos);
    EXPECT_EQ(entry.compressedSize, 3u);  // deflated "w"
    EXPECT_EQ(entry.uncompressedSize, 1u);

    ASSERT_EQ(ZipGetEntry(zip.get(), 1, &entry), ZipOk);
    EXPECT_EQ(ZipFileTimeToUint64(entry.writeTime), 0x019DB1DED4A5E980u);
    EXPECT_EQ(ZipFileTimeToUint64(entry.accessTime), 86400ULL * 10000000 + kEpoch);
    EXPECT_EQ(ZipFileTimeToUint64(entry.creationTime), 1000000000ULL * 10000000 + kEpoch);

    ASSERT_EQ(ZipGetEntry(zip.get(), 2, &entry), ZipOk);
    EXPECT_EQ(ZipFileTimeToUint64(entry.writeTime) | ZipFileTimeToUint64(entry.accessTime) |
                  ZipFileTimeToUint64(entry.creationTime),
              0u);
    unsetenv("TZ");
    tzset();
}

TEST_F(ZipTest, NamesAreUtf8WhateverBit11SaysAndCleaned) {
    TestZipEntry plain = File("\xe4\xb8\xad\xe6\x96\x87/a.txt", "x");  // bit 11 clear
    TestZipEntry flagged = File("C:\\x\\..\\\xc3\xa9.txt", "y");
    flagged.flags = 0x800;
    ScopedZip zip = OpenEntries({plain, flagged});
    ZipEntryInfo entry = {};
    ASSERT_EQ(ZipGetEntry(zip.get(), 0, &entry), ZipOk);
    EXPECT_EQ(std::wstring(entry.name), std::wstring(L"\x4E2D\x6587/a.txt"));
    ASSERT_EQ(ZipGetEntry(zip.get(), 1, &entry), ZipOk);
    EXPECT_EQ(std::wstring(entry.name), std::wstring(L"\xE9.txt"));
    ASSERT_EQ(ZipExtractEntry(zip.get(), 0, L"\x4E2D\x6587/a.txt"), ZipOk);
    EXPECT_EQ(Read("out/\xe4\xb8\xad\xe6\x96\x87/a.txt"), "x");
}

TEST_F(ZipTest, FolderNamesWithoutTheDirectoryAttributeAreFolders) {
    // As some tools write them: a trailing separator, no directory bit.
    TestZipEntry unixFolder = File("res/", "");
    unixFolder.externalAttributes = 0;
    TestZipEntry dosFolder = File("maps\\", "");
    dosFolder.versionMadeBy = 0x0014;
    dosFolder.externalAttributes = 0;
    ScopedZip zip = OpenEntries({unixFolder, dosFolder, File("res/a.txt", "a")});
    for (int32_t i = 0; i < 3; ++i) {
        ZipEntryInfo entry = {};
        ASSERT_EQ(ZipGetEntry(zip.get(), i, &entry), ZipOk);
        EXPECT_EQ(entry.attributes & 0x10, 0u) << "reported as stored";
        EXPECT_EQ(ZipExtractEntry(zip.get(), i, entry.name), ZipOk) << i;
    }
    EXPECT_TRUE(S_ISDIR(StatOf(Path("out/res")).st_mode));
    EXPECT_TRUE(S_ISDIR(StatOf(Path("out/maps")).st_mode));
    EXPECT_EQ(Read("out/res/a.txt"), "a");
}

TEST_F(ZipTest, ExtractsFilesAndDirectoriesUnderTheBase) {
    setenv("TZ", "UTC0", 1);
    tzset();
    const std::string big(100000, 'q');
    TestZipEntry readOnly = File("sub\\ro.txt", "read only");
    readOnly.externalAttributes = 0x81240000;
    readOnly.localExtra = ExtendedTimeBlock(3, {1000, 2000});
    TestZipEntry empty = File("empty.txt", "");
    empty.method = 0;
    ScopedZip zip = OpenEntries({Directory("a/b/"), File("top.txt", big), readOnly, empty});
    ASSERT_FALSE(Exists("out"));
    // The stages' sequence: each record's name is the target.
    for (int32_t i = 0; i < 4; ++i) {
        ZipEntryInfo entry = {};
        ASSERT_EQ(ZipGetEntry(zip.get(), i, &entry), ZipOk);
        EXPECT_EQ(ZipExtractEntry(zip.get(), i, entry.name), ZipOk) << i;
        EXPECT_EQ(ZipLastResult(), ZipOk);
    }
    // Closed and given their attributes by now.
    int32_t failed = 0;
    EXPECT_EQ(ZipFinishFiles(zip.get(), &failed), ZipOk);
    EXPECT_EQ(failed, -1);
    EXPECT_TRUE(S_ISDIR(StatOf(Path("out/a/b")).st_mode));
    // Times first: reading the files may move their access times.
    const struct stat ro = StatOf(Path("out/sub/ro.txt"));
    EXPECT_EQ(ro.st_mode & 0222, 0u);
    EXPECT_EQ(ToFileTime(ro.st_mtim), 1000ULL * 10000000 + kEpoch);
    EXPECT_EQ(ToFileTime(ro.st_atim), 2000ULL * 10000000 + kEpoch);
    const struct stat top = StatOf(Path("out/top.txt"));
    EXPECT_NE(top.st_mode & 0200, 0u);
    EXPECT_EQ(ToFileTime(top.st_mtim), 1588388646ULL * 10000000 + kEpoch);
    const struct stat emptyStat = StatOf(Path("out/empty.txt"));
    EXPECT_EQ(emptyStat.st_size, 0);
    EXPECT_EQ(ToFileTime(emptyStat.st_mtim), 1588388646ULL * 10000000 + kEpoch);
    EXPECT_EQ(Read("out/top.txt"), big);
    EXPECT_EQ(Read("out/sub/ro.txt"), "read only");
    unsetenv("TZ");
    tzset();
}

TEST_F(ZipTest, TargetsAbsoluteOrRelativeToTheBase) {
    ScopedZip zip = OpenEntries({File("n.txt", "one"), Directory("d/e/")});
    EXPECT_EQ(ZipExtractEntry(zip.get(), 0, Wide(Path("abs/x/y.txt")).c_str()), ZipOk);
    EXPECT_EQ(Read("abs/x/y.txt"), "one");
    EXPECT_EQ(ZipExtractEntry(zip.get(), 1, Wide(Path("absdir/f/")).c_str()), ZipOk);
    EXPECT_TRUE(Exists("absdir/f"));
    // Backslashes separate as well.
    EXPECT_EQ(ZipExtractEntry(zip.get(), 0, L"p\\q\\r.txt"), ZipOk);
    EXPECT_EQ(Read("out/p/q/r.txt"), "one");
    // A base directory ending in "/" gets no second separator.
    ASSERT_EQ(ZipSetBaseDir(zip.get(), Wide(Path("other/")).c_str()), ZipOk);
    EXPECT_EQ(ZipExtractEntry(zip.get(), 0, L"n.txt"), ZipOk);
    EXPECT_EQ(Read("other/n.txt"), "one");
}

TEST_F(ZipTest, ReplacesFilesReadOnlyOrNotButOnlyWithWholeBytes) {
    TestZipEntry damaged = File("d.txt", std::string(20000, 'd'));
    damaged.damageAt = 5;
    ScopedZip zip = OpenEntries({File("f.txt", "new"), damaged});
    ASSERT_EQ(mkdir(Path("out").c_str(), 0755), 0);
    Write("out/f.txt", "old content that is longer");
    EXPECT_EQ(ZipExtractEntry(zip.get(), 0, L"f.txt"), ZipOk);
    EXPECT_EQ(Read("out/f.txt"), "new");
    Write("out/locked.txt", "old");
    ASSERT_EQ(chmod(Path("out/locked.txt").c_str(), 0444), 0);
    EXPECT_EQ(ZipExtractEntry(zip.get(), 0, L"locked.txt"), ZipOk);
    EXPECT_EQ(Read("out/locked.txt"), "new");
    EXPECT_NE(StatOf(Path("out/locked.txt")).st_mode & 0200, 0u);
    // An entry that fails leaves the old file exactly as it was, and no
    // replacement file behind.
    ASSERT_EQ(chmod(Path("out/locked.txt").c_str(), 0444), 0);
    EXPECT_EQ(ZipExtractEntry(zip.get(), 1, L"locked.txt"), ZipErrInflate);
    EXPECT_EQ(Read("out/locked.txt"), "new");
    EXPECT_EQ(StatOf(Path("out/locked.txt")).st_mode & 0222, 0u);
    EXPECT_FALSE(Exists("out/~qorv-unpack.tmp"));
}

TEST_F(ZipTest, RefusesTargetsThatLeaveTheBase) {
    ScopedZip zip =
        OpenEntries({File("dir\\..\\..\\z.txt", "z"), File("a/../../b", "b"),
                     File("s.txt:stream", "s"), Directory("x/../../y/"), File("ok.txt", "ok")});
    ZipEntryInfo entry = {};
    ASSERT_EQ(ZipGetEntry(zip.get(), 0, &entry), ZipOk);
    EXPECT_EQ(std::wstring(entry.name), L"..\\z.txt");
    EXPECT_EQ(ZipExtractEntry(zip.get(), 0, entry.name), ZipErrFile);
    EXPECT_EQ(ZipLastResult(), ZipErrFile);
    ASSERT_EQ(ZipGetEntry(zip.get(), 1, &entry), ZipOk);
    EXPECT_EQ(std::wstring(entry.name), L"../b");  // only the first "/../" goes
    EXPECT_EQ(ZipExtractEntry(zip.get(), 1, entry.name), ZipErrFile);
    EXPECT_EQ(ZipExtractEntry(zip.get(), 1, L"a/../../b"), ZipErrFile);
    ASSERT_EQ(ZipGetEntry(zip.get(), 2, &entry), ZipOk);
    EXPECT_EQ(ZipExtractEntry(zip.get(), 2, entry.name), ZipErrFile);
    ASSERT_EQ(ZipGetEntry(zip.get(), 3, &entry), ZipOk);
    EXPECT_EQ(std::wstring(entry.name), L"../y/");
    EXPECT_EQ(ZipExtractEntry(zip.get(), 3, entry.name), ZipErrFile);
    // A drive-relative target without a folder would land under the base.
    EXPECT_EQ(ZipExtractEntry(zip.get(), 4, L"C:ok.txt"), ZipErrFile);
    // Nothing at all was created, not even the base directory.
    EXPECT_FALSE(Exists("out"));
    EXPECT_FALSE(Exists("z.txt"));
    EXPECT_FALSE(Exists("y"));
    EXPECT_EQ(ZipExtractEntry(zip.get(), 4, L"ok.txt"), ZipOk);
    EXPECT_EQ(Read("out/ok.txt"), "ok");
}

TEST_F(ZipTest, NamesFitTheRecordAndPathsRunPastMaxPath) {
    const std::string longName = std::string(255, 'n') + ".txt";  // 259 bytes: fits the record
    ScopedZip zip = OpenEntries({File(std::string(260, 'l'), "x"), File(longName, "y")});
    ZipEntryInfo entry = {};
    EXPECT_EQ(ZipGetEntry(zip.get(), 0, &entry), ZipErrFile);
    EXPECT_EQ(ZipExtractEntry(zip.get(), 0, L"fallback.txt"), ZipErrFile);
    ASSERT_EQ(ZipGetEntry(zip.get(), 1, &entry), ZipOk);
    EXPECT_EQ(wcslen(entry.name), 259u);
    // Folders and a name of 200 characters each: far past 260 with the base.
    const std::wstring deep = std::wstring(200, L'd') + L"/" + std::wstring(200, L'e') + L"/" +
                              std::wstring(196, L'f') + L".txt";
    EXPECT_EQ(ZipExtractEntry(zip.get(), 1, deep.c_str()), ZipOk);
    EXPECT_EQ(Read("out/" + std::string(200, 'd') + "/" + std::string(200, 'e') + "/" +
                   std::string(196, 'f') + ".txt"),
              "y");
    // A base directory past the bound is refused and relative targets fail.
    EXPECT_EQ(ZipSetBaseDir(zip.get(), std::wstring(kMaxPathChars, L'b').c_str()), ZipErrFile);
    EXPECT_EQ(ZipExtractEntry(zip.get(), 1, L"short.txt"), ZipErrFile);
}

TEST_F(ZipTest, CachedRecordIsServedWithoutReadingTheArchive) {
    // A large second entry keeps its local header far from the central directory.
    ScopedZip zip = OpenEntries({File("first.txt", "1"), [] {
                                     TestZipEntry big = File("second.bin", std::string(70000, 's'));
                                     big.method = 0;
                                     return big;
                                 }()});
    ZipEntryInfo first = {};
    ASSERT_EQ(ZipGetEntry(zip.get(), 1, &first), ZipOk);
    ASSERT_EQ(truncate(Path("archive.zip").c_str(), 0), 0);
    ZipEntryInfo again = {};
    ASSERT_EQ(ZipGetEntry(zip.get(), 1, &again), ZipOk);
    EXPECT_EQ(memcmp(&first, &again, sizeof(first)), 0);
    // Anything that does read now fails.
    ZipEntryInfo other = {};
    EXPECT_NE(ZipGetEntry(zip.get(), 0, &other), ZipOk);
}

TEST_F(ZipTest, WalksBackToALowerIndex) {
    ScopedZip zip =
        OpenEntries({File("0.txt", "zero"), File("1.txt", "one"), File("2.txt", "two")});
    ZipEntryInfo entry = {};
    const int32_t order[] = {2, 0, 1, 1, 0, 2};
    for (const int32_t index : order) {
        ASSERT_EQ(ZipGetEntry(zip.get(), index, &entry), ZipOk);
        EXPECT_EQ(entry.index, index);
        EXPECT_EQ(Narrow(entry.name), std::to_string(index) + ".txt");
    }
    EXPECT_EQ(ZipExtractEntry(zip.get(), 0, L"zero.txt"), ZipOk);
    EXPECT_EQ(ZipExtractEntry(zip.get(), 2, L"two.txt"), ZipOk);
    EXPECT_EQ(ZipExtractEntry(zip.get(), 1, L"one.txt"), ZipOk);
    EXPECT_EQ(Read("out/zero.txt"), "zero");
    EXPECT_EQ(Read("out/one.txt"), "one");
    EXPECT_EQ(Read("out/two.txt"), "two");
}

TEST_F(ZipTest, EncryptedEntriesUseTheEmptyPassword) {
    TestZipEntry deflated = File("d.txt", std::string(5000, 'e'));
    deflated.encrypt = true;
    TestZipEntry stored = File("s.txt", "stored secret");
    stored.method = 0;
    stored.encrypt = true;
    TestZipEntry descriptor = File("t.txt", "checked by time");
    descriptor.encrypt = true;
    descriptor.flags = 0x08;
    TestZipEntry wrong = File("w.txt", "never");
    wrong.encrypt = true;
    wrong.checkByteDelta = 1;
    ScopedZip zip = OpenEntries({deflated, stored, descriptor, wrong});
    EXPECT_EQ(ZipExtractEntry(zip.get(), 0, L"d.txt"), ZipOk);
    EXPECT_EQ(Read("out/d.txt"), std::string(5000, 'e'));
    EXPECT_EQ(ZipExtractEntry(zip.get(), 1, L"s.txt"), ZipOk);
    EXPECT_EQ(Read("out/s.txt"), "stored secret");
    EXPECT_EQ(ZipExtractEntry(zip.get(), 2, L"t.txt"), ZipOk);
    EXPECT_EQ(Read("out/t.txt"), "checked by time");
    EXPECT_EQ(ZipExtractEntry(zip.get(), 3, L"w.txt"), ZipErrPassword);
    EXPECT_EQ(ZipLastResult(), ZipErrPassword);
    EXPECT_EQ(Read("out/w.txt"), "");
}

TEST_F(ZipTest, UnsupportedMethodsAndDisagreeingHeadersCreateNothing) {
    TestZipEntry bzip2 = File("bz.txt", "data");
    bzip2.method = 12;
    TestZipEntry lzma = File("lz.txt", "data");
    lzma.method = 14;
    TestZipEntry disagree = File("dis.txt", "data");
    disagree.localMethod = 0;
    ScopedZip zip = OpenEntries({bzip2, lzma, disagree, File("ok.txt", "fine")});
    for (int32_t i = 0; i < 3; ++i) {
        ZipEntryInfo entry = {};
        EXPECT_EQ(ZipGetEntry(zip.get(), i, &entry), ZipErrCorrupt) << i;
        EXPECT_EQ(entry.index, 0);
        EXPECT_EQ(ZipExtractEntry(zip.get(), i, L"target.txt"), ZipErrCorrupt) << i;
    }
    EXPECT_FALSE(Exists("out"));
    // The handle stays usable.
    EXPECT_EQ(ZipExtractEntry(zip.get(), 3, L"ok.txt"), ZipOk);
    EXPECT_EQ(Read("out/ok.txt"), "fine");
}

TEST_F(ZipTest, DamagedDataIsNeverSuccess) {
    const std::string text(20000, 't');
    TestZipEntry damaged = File("damaged.txt", text);
    damaged.damageAt = 5;
    TestZipEntry badCrc = File("crc.txt", "stored");
    badCrc.method = 0;
    badCrc.crc = 0x12345678;
    TestZipEntry truncated = File("cut.txt", std::string(30000, 'c') + std::string(30000, 'd'));
    truncated.truncateData = 40;
    ScopedZip zip = OpenEntries({damaged, badCrc, truncated, File("ok.txt", "fine")});
    EXPECT_EQ(ZipExtractEntry(zip.get(), 0, L"damaged.txt"), ZipErrInflate);
    EXPECT_EQ(ZipExtractEntry(zip.get(), 1, L"crc.txt"), ZipErrInflate);
    EXPECT_EQ(ZipLastResult(), ZipErrInflate);
    // Nothing of a failed entry is left.
    EXPECT_FALSE(Exists("out/crc.txt"));
    EXPECT_EQ(ZipExtractEntry(zip.get(), 2, L"cut.txt"), ZipErrInflate);
    EXPECT_EQ(ZipExtractEntry(zip.get(), 3, L"ok.txt"), ZipOk);
}

// Entry i holds 5000 + i copies of its own letter.
std::vector<TestZipEntry> LetterEntries(int count) {
    std::vector<TestZipEntry> entries;
    for (int i = 0; i < count; ++i) {
        entries.push_back(File(std::to_string(i) + ".txt", std::string(5000 + i, 'a' + i)));
    }
    return entries;
}

TEST_F(ZipTest, ReadAheadServesOnlyTheNextIndex) {
    // The first call starts the read-ahead; each sequence then leaves the
    // index order: the same index twice, a skip, a step back.
    const std::vector<std::vector<int32_t>> sequences = {
        {0, 1, 1, 2, 3}, {0, 2, 1, 3, 4}, {0, 1, 2, 0, 1, 5}, {3, 4, 2, 5}};
    for (const auto& sequence : sequences) {
        ScopedZip zip = OpenEntries(LetterEntries(6));
        for (const int32_t index : sequence) {
            const std::string name = std::to_string(index) + ".txt";
            EXPECT_EQ(ZipExtractEntry(zip.get(), index, Wide(name).c_str()), ZipOk) << index;
            EXPECT_EQ(Read("out/" + name), std::string(5000 + index, 'a' + index)) << index;
        }
    }
}

TEST_F(ZipTest, ReadAheadFailureLeavesTheEntryAsBefore) {
    // Entry 2 fails while the read-ahead inflates it, after it prepared 1.
    TestZipEntry damaged = File("2.txt", std::string(20000, 't'));
    damaged.damageAt = 5;
    const std::string stored(5000, 'p');
    TestZipEntry badCrc = File("2.txt", stored);
    badCrc.method = 0;
    badCrc.crc = 0x12345678;
    TestZipEntry cut = File("2.txt", std::string(30000, 'c') + std::string(30000, 'd'));
    cut.truncateData = 40;
    TestZipEntry longer = File("2.txt", std::string(9000, 'l'));
    longer.declaredSize = 5000;
    TestZipEntry shorter = File("2.txt", std::string(5000, 's'));
    shorter.declaredSize = 9000;
    TestZipEntry wrongLocal = File("2.txt", std::string(5000, 'w'));
    wrongLocal.localMethod = 0;
    const TestZipEntry faults[] = {damaged, badCrc, cut, longer, shorter, wrongLocal};
    for (size_t fault = 0; fault < std::size(faults); ++fault) {
        std::vector<TestZipEntry> entries = LetterEntries(4);
        entries[2] = faults[fault];
        ScopedZip zip = OpenEntries(entries);
        std::filesystem::create_directory(Path("out"));
        Write("out/2.txt", "installed");
        const ZipResult expected[] = {ZipOk, ZipOk, fault == 5 ? ZipErrCorrupt : ZipErrInflate,
                                      ZipOk};
        for (int32_t i = 0; i < 4; ++i) {
            EXPECT_EQ(ZipExtractEntry(zip.get(), i, Wide(std::to_string(i) + ".txt").c_str()),
                      expected[i])
                << fault << " " << i;
        }
        EXPECT_EQ(Read("out/1.txt"), std::string(5001, 'b'));
        EXPECT_EQ(Read("out/3.txt"), std::string(5003, 'd'));
        // As without read-ahead: the installed file stays as it was.
        EXPECT_EQ(Read("out/2.txt"), "installed") << fault;
        std::filesystem::remove_all(Path("out"));
    }
}

TEST_F(ZipTest, ClosePoolKeepsTheFirstFailureWithItsPath) {
    // A file cannot take the place of a folder that holds something: its
    // commit fails on a thread of the pool, after files that succeed.
    std::filesystem::create_directories(Path("full/inner"));
    ClosePool pool;
    for (int32_t tag = 0; tag < 3 * static_cast<int32_t>(kClosePoolBatch); ++tag) {
        auto file = std::make_unique<TargetFile>();
        const bool fails = tag == 5 || tag == 9;
        const std::string name = fails ? "full" : std::to_string(tag) + ".txt";
        if (fails) {
            ASSERT_EQ(file->Open(Wide(Path(name)), 0), TargetFile::Opened::kExists);
            ASSERT_EQ(file->OpenReplacement(Wide(Path(std::to_string(tag) + ".new"))),
                      TargetFile::Opened::kOk);
        } else {
            ASSERT_EQ(file->Open(Wide(Path(name)), 0), TargetFile::Opened::kOk);
        }
        ASSERT_TRUE(file->Write(name.data(), static_cast<uint32_t>(name.size())));
        pool.Commit(std::move(file), true, tag);
    }
    pool.Wait();
    ClosePool::Failure failure;
    ASSERT_TRUE(pool.TakeFailure(&failure));
    // The two may fail on two threads in either order: one of them is kept.
    EXPECT_EQ(failure.result, TargetFile::Committed::kNotMoved);
    EXPECT_TRUE(failure.tag == 5 || failure.tag == 9) << failure.tag;
    EXPECT_EQ(Narrow(failure.path.c_str()), Path(std::to_string(failure.tag) + ".new"));
    EXPECT_FALSE(pool.TakeFailure(&failure));
    // What failed is gone; the rest is whole, the folder as it was.
    EXPECT_FALSE(Exists("5.new"));
    EXPECT_FALSE(Exists("9.new"));
    EXPECT_EQ(Read("23.txt"), "23.txt");
    EXPECT_TRUE(Exists("full/inner"));
}

TEST_F(ZipTest, ReadAheadThreadEndsWhenClosedWhileWaiting) {
    const size_t threads = CountEntries("/proc/self/task");
    const size_t files = CountEntries("/proc/self/fd");
    // Three entries of 3 MiB fill the read-ahead's memory: one thread waits
    // for room, the other for its turn to claim, when the archive is closed.
    std::vector<TestZipEntry> entries = {File("0.txt", "0")};
    for (char letter = 'a'; letter <= 'c'; ++letter) {
        entries.push_back(File(std::string(1, letter), std::string(3u << 20, letter)));
    }
    ScopedZip zip = OpenEntries(entries);
    ASSERT_EQ(ZipExtractEntry(zip.get(), 0, L"0.txt"), ZipOk);
    // The close pool's threads too, where a close was slow.
    EXPECT_GE(CountEntries("/proc/self/task"), threads + kZipReadAheadThreads);
    EXPECT_LE(CountEntries("/proc/self/task"), threads + kZipReadAheadThreads + kClosePoolThreads);
    EXPECT_EQ(ZipClose(zip.release()), ZipOk);
    // The archive is no longer open, not even by a thread that lingers.
    EXPECT_EQ(CountEntries("/proc/self/fd"), files);
    // A joined thread leaves the task list a moment after the join.
    for (int wait = 0; wait < 2000 && CountEntries("/proc/self/task") != threads; ++wait) {
        usleep(1000);
    }
    EXPECT_EQ(CountEntries("/proc/self/task"), threads);
}

}  // namespace
