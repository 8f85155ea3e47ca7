// What an incremental client update needs from a package it has not
// downloaded: the end records and central directory read from the file's
// tail, the entries that differ from the installed record, and the byte
// ranges to fetch for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qorv {

// Bytes asked for at the end of the package: the classic end record with the
// longest comment, and the zip64 end record and locator before it. A central
// directory that starts before them is asked for next.
constexpr uint64_t kPackageTailBytes = 66 * 1024;
// Range requests one update may make for entry data; more ranges are joined
// across their smallest gaps.
constexpr size_t kMaxEntryRequests = 16;

// Where the central directory lies, as the end records say.
struct DirectoryLocation {
    uint64_t offset = 0;  // of the first central record, from the file's start
    uint64_t size = 0;
    uint64_t count = 0;
    // Offset in the scanned buffer where the central directory ends (the
    // zip64 end record or the classic one starts there).
    size_t endInBuffer = 0;
};

// Finds the end records in buffer, the last bytes of a zip file (or an
// installed record, which holds the central directory and what follows it).
// False when there is no classic end record, a zip64 one is announced but not
// in buffer, or the directory would end past the end records.
bool LocateDirectory(const std::vector<unsigned char>& buffer, DirectoryLocation* location);

// One central record, with what decides whether the installed file is still
// this entry.
struct PackageEntry {
    std::string name;  // stored bytes
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint32_t dosDateTime = 0;
    uint16_t versionMadeBy = 0;
    uint32_t externalAttributes = 0;
    uint64_t localHeaderOffset = 0;
    // The extra field without its zip64 block: the time stamps and whatever
    // else travels with the entry.
    std::string extra;
};

// Reads location.count central records from directory (the directory's own
// bytes). False on a record that does not fit or lacks its signature.
bool ParseDirectory(const unsigned char* directory, size_t size, const DirectoryLocation& location,
                    std::vector<PackageEntry>* entries);

// The directory and end records of a package or record buffer, parsed; false
// when either step fails.
bool ReadDirectory(const std::vector<unsigned char>& buffer, std::vector<PackageEntry>* entries);

// Same name, CRC-32, sizes, times and attributes: where the entry lies in
// the package does not count.
bool SameEntry(const PackageEntry& a, const PackageEntry& b);

struct ByteRange {
    uint64_t offset = 0;
    uint64_t length = 0;
};

// The span of each entry of entries marked in wanted: from its local header
// to the next local header or the central directory, whichever comes first
// (so a data descriptor comes along). False when an entry would start past
// the directory.
bool EntrySpans(const std::vector<PackageEntry>& entries, const std::vector<bool>& wanted,
                uint64_t directoryOffset, std::vector<ByteRange>* spans);

// Sorts spans, joins touching or overlapping ones, then joins across the
// smallest gaps until at most maxRequests remain.
std::vector<ByteRange> PlanRanges(std::vector<ByteRange> spans, size_t maxRequests);

// The sum of the ranges' lengths.
uint64_t RangeBytes(const std::vector<ByteRange>& ranges);

// True when fetching the ranges would cost more than about half of a package
// of packageSize bytes: the whole download is then as cheap and simpler.
bool WholeDownloadIsCheaper(const std::vector<ByteRange>& ranges, uint64_t packageSize);

}  // namespace qorv
