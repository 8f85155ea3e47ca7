// A package's central directory read by its own bytes, apart from the zip
// layer: from the end of a file (or of an installed record, which holds the
// directory and what follows it), for a package that is not downloaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "services/Sha256.h"

namespace qorv {

// Bytes that always reach the end records: the classic end record with the
// longest comment, and the zip64 end record and locator before it.
constexpr uint64_t kPackageTailBytes = 66 * 1024;

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

// The SHA-256 of the entry's uncompressed bytes that the kit puts in each
// file entry's central record (extra block 0x5153, 32 bytes). False when the
// entry carries none, or its extra is malformed, truncated or holds the block
// twice.
bool EntrySha256(const PackageEntry& entry, Sha256Digest* digest);

}  // namespace qorv
