// Builds zip archives byte by byte for the extraction tests, including the
// malformed ones that real tools will not make.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TestZipEntry {
    std::string name;  // stored bytes
    std::string data;  // uncompressed content
    uint16_t method = 8;
    uint16_t versionMadeBy = 0x031E;           // Unix host
    uint32_t externalAttributes = 0x81A40000;  // regular file, rw-r--r--
    uint32_t dosDateTime = 0x50A21883;         // 2020-05-02 03:04:06
    uint16_t flags = 0;
    std::string localExtra;
    // Blocks of the central record's extra field only, after any zip64 one.
    std::string centralExtra;
    // Traditional encryption with the empty password; checkByteDelta != 0
    // spoils the header's check byte.
    bool encrypt = false;
    uint8_t checkByteDelta = 0;
    // The method the local header claims; -1 for the central one.
    int localMethod = -1;
    // CRC-32 written to both headers; -1 for the data's true CRC.
    int64_t crc = -1;
    // Compressed bytes dropped from the end of the stored data (the headers
    // keep the full size).
    size_t truncateData = 0;
    // Offset into the compressed bytes whose value is inverted; -1 for none.
    int64_t damageAt = -1;
    // The uncompressed size the headers declare; -1 for the data's size.
    int64_t declaredSize = -1;
    // Sizes as zip64 extra fields in both headers (0xFFFFFFFF in the fields).
    bool zip64 = false;
    // Index of an earlier entry whose local header and data this entry's
    // central record points at; it then writes none of its own. -1: none.
    int sameDataAs = -1;
};

// How the whole archive is laid out around the entries.
struct TestZipLayout {
    // Bytes before the archive that the offsets do not count, as in a
    // self-extractor.
    std::string prefix;
    // A zip64 end record and locator before the classic end record.
    bool zip64End = false;
    // The entry count the end records claim; -1 for the real count.
    int64_t claimedEntries = -1;
};

std::string BuildTestZip(const std::vector<TestZipEntry>& entries,
                         const TestZipLayout& layout = TestZipLayout());

// An "UT" extra block with the given flags and stamps.
std::string ExtendedTimeBlock(uint8_t flags, const std::vector<int32_t>& stamps);

uint32_t TestCrc32(const std::string& data);
