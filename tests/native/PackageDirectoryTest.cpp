#include "delivery/RangePlan.h"
#include "services/zip/PackageDirectory.h"

#include <gtest/gtest.h>

#include "ZipTestArchive.h"

using namespace qorv;

namespace {

std::vector<unsigned char> Bytes(const std::string& text) {
    return std::vector<unsigned char>(text.begin(), text.end());
}

std::vector<TestZipEntry> ClientEntries(const std::string& changed) {
    std::vector<TestZipEntry> entries(3);
    entries[0].name = "a.dat";
    entries[0].data = std::string(5000, 'a');
    entries[0].localExtra = ExtendedTimeBlock(1, {1600000000});
    entries[1].name = "res/b.dat";
    entries[1].data = changed;
    entries[2].name = "c.exe";
    entries[2].data = "MZ";
    entries[2].method = 0;
    return entries;
}

TEST(PackageDirectory, RecordFromTheDirectoryOnReadsAsTheWholePackage) {
    for (bool zip64 : {false, true}) {
        TestZipLayout layout;
        layout.zip64End = zip64;
        const std::string package = BuildTestZip(ClientEntries("version 1"), layout);
        std::vector<PackageEntry> fromPackage;
        ASSERT_TRUE(ReadDirectory(Bytes(package), &fromPackage)) << zip64;
        ASSERT_EQ(fromPackage.size(), 3u);
        EXPECT_EQ(fromPackage[1].name, "res/b.dat");
        EXPECT_EQ(fromPackage[1].uncompressedSize, 9u);
        EXPECT_EQ(fromPackage[1].crc, TestCrc32("version 1"));

        DirectoryLocation location;
        ASSERT_TRUE(LocateDirectory(Bytes(package), &location));
        const std::vector<unsigned char> record =
            Bytes(package.substr(static_cast<size_t>(location.offset)));
        std::vector<PackageEntry> fromRecord;
        ASSERT_TRUE(ReadDirectory(record, &fromRecord));
        ASSERT_EQ(fromRecord.size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_TRUE(SameEntry(fromPackage[i], fromRecord[i])) << i;
            EXPECT_EQ(fromPackage[i].localHeaderOffset, fromRecord[i].localHeaderOffset);
        }

        // The next version moves every later entry but changes only one.
        const std::string next = BuildTestZip(ClientEntries("version 2, longer"), layout);
        std::vector<PackageEntry> fromNext;
        ASSERT_TRUE(ReadDirectory(Bytes(next), &fromNext));
        EXPECT_TRUE(SameEntry(fromRecord[0], fromNext[0]));
        EXPECT_FALSE(SameEntry(fromRecord[1], fromNext[1]));
        EXPECT_NE(fromRecord[2].localHeaderOffset, fromNext[2].localHeaderOffset);
        EXPECT_TRUE(SameEntry(fromRecord[2], fromNext[2]));
    }
}

TEST(PackageDirectory, AnyDifferenceButThePlaceMakesAnEntryChanged) {
    const std::string package = BuildTestZip(ClientEntries("x"));
    std::vector<PackageEntry> entries;
    ASSERT_TRUE(ReadDirectory(Bytes(package), &entries));
    const PackageEntry base = entries[0];
    std::vector<PackageEntry> changed(7, base);
    changed[0].name = "A.dat";
    changed[1].crc ^= 1;
    changed[2].compressedSize += 1;
    changed[3].uncompressedSize += 1;
    changed[4].dosDateTime += 1;
    changed[5].externalAttributes ^= 1;
    changed[6].extra = ExtendedTimeBlock(1, {1600000001});
    for (size_t i = 0; i < changed.size(); ++i) EXPECT_FALSE(SameEntry(base, changed[i])) << i;
    PackageEntry moved = base;
    moved.localHeaderOffset += 100;
    EXPECT_TRUE(SameEntry(base, moved));
}

TEST(PackageDirectory, BrokenEndRecordsAndDirectoriesAreRefused) {
    const std::string package = BuildTestZip(ClientEntries("x"));
    std::vector<PackageEntry> entries;
    EXPECT_FALSE(ReadDirectory(Bytes(package.substr(0, package.size() - 1)), &entries));
    EXPECT_FALSE(ReadDirectory(Bytes(package.substr(package.size() - 40)), &entries));
    TestZipLayout layout;
    layout.claimedEntries = 4;
    EXPECT_FALSE(ReadDirectory(Bytes(BuildTestZip(ClientEntries("x"), layout)), &entries));
}

// The kit's entry digest is read from the central record, beside other
// blocks and after a zip64 one; an entry without it, or with a broken block,
// names none.
TEST(PackageDirectory, EntryDigestComesFromItsCentralBlock) {
    Sha256Digest digest{};
    for (size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<unsigned char>(i * 7 + 1);
    const std::string bytes(digest.begin(), digest.end());
    const std::string block = std::string("SQ\x20\x00", 4) + bytes;
    std::vector<TestZipEntry> built = ClientEntries("x");
    built[0].centralExtra = ExtendedTimeBlock(1, {1600000000}) + block;
    built[1].zip64 = true;
    built[1].centralExtra = block;
    std::vector<PackageEntry> entries;
    ASSERT_TRUE(ReadDirectory(Bytes(BuildTestZip(built)), &entries));
    for (size_t i = 0; i < 2; ++i) {
        Sha256Digest found{};
        ASSERT_TRUE(EntrySha256(entries[i], &found)) << i;
        EXPECT_EQ(found, digest) << i;
    }
    // A failure leaves the caller's digest alone.
    Sha256Digest untouched{};
    EXPECT_FALSE(EntrySha256(entries[2], &untouched));

    PackageEntry broken = entries[1];
    for (const std::string& extra :
         {block.substr(0, block.size() - 1), block + "\x01", block + block,
          std::string("SQ\x1f\x00", 4) + bytes.substr(1),
          std::string("SQ\x21\x00", 4) + bytes + "x", std::string("UT\x24\x00", 4) + block}) {
        broken.extra = extra;
        EXPECT_FALSE(EntrySha256(broken, &untouched)) << extra.size();
    }
    EXPECT_EQ(untouched, Sha256Digest{});
}

TEST(PackageDirectory, SpansRunFromTheLocalHeaderToTheNextOne) {
    const std::string package = BuildTestZip(ClientEntries("x"));
    std::vector<PackageEntry> entries;
    ASSERT_TRUE(ReadDirectory(Bytes(package), &entries));
    DirectoryLocation location;
    ASSERT_TRUE(LocateDirectory(Bytes(package), &location));
    std::vector<ByteRange> spans;
    ASSERT_TRUE(EntrySpans(entries, {false, true, true}, location.offset, &spans));
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[0].offset, entries[1].localHeaderOffset);
    EXPECT_EQ(spans[0].length, entries[2].localHeaderOffset - entries[1].localHeaderOffset);
    EXPECT_EQ(spans[1].offset + spans[1].length, location.offset);
    entries[0].localHeaderOffset = location.offset;
    EXPECT_FALSE(EntrySpans(entries, {true, false, false}, location.offset, &spans));
}

TEST(RangePlan, TouchingAndOverlappingSpansBecomeOneRequest) {
    const auto ranges = PlanRanges({{300, 50}, {0, 100}, {100, 20}, {330, 40}, {500, 0}}, 16);
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0].offset, 0u);
    EXPECT_EQ(ranges[0].length, 120u);
    EXPECT_EQ(ranges[1].offset, 300u);
    EXPECT_EQ(ranges[1].length, 70u);
    EXPECT_EQ(RangeBytes(ranges), 190u);
}

TEST(RangePlan, RequestCountIsBoundedByJoiningTheSmallestGaps) {
    // Gaps after each span: 90, 10, 500, 30.
    const std::vector<ByteRange> spans = {{0, 10}, {100, 10}, {120, 10}, {630, 10}, {670, 10}};
    auto ranges = PlanRanges(spans, 3);
    ASSERT_EQ(ranges.size(), 3u);
    EXPECT_EQ(ranges[0].offset, 0u);
    EXPECT_EQ(ranges[0].length, 10u);
    EXPECT_EQ(ranges[1].offset, 100u);
    EXPECT_EQ(ranges[1].length, 30u);
    EXPECT_EQ(ranges[2].offset, 630u);
    EXPECT_EQ(ranges[2].length, 50u);
    ranges = PlanRanges(spans, 1);
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0].length, 680u);

    std::vector<ByteRange> many;
    for (uint64_t i = 0; i < 200; ++i) many.push_back({i * 1000, 100});
    EXPECT_EQ(PlanRanges(many, kMaxEntryRequests).size(), kMaxEntryRequests);
}

TEST(RangePlan, MoreThanHalfThePackageFallsBackToTheWholeDownload) {
    EXPECT_FALSE(WholeDownloadIsCheaper({{0, 400}, {600, 100}}, 1000));
    EXPECT_FALSE(WholeDownloadIsCheaper({{0, 500}}, 1000));
    EXPECT_TRUE(WholeDownloadIsCheaper({{0, 400}, {600, 101}}, 1000));
    EXPECT_FALSE(WholeDownloadIsCheaper({}, 1000));
}

}  // namespace
