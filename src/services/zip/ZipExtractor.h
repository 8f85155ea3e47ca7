// What an open archive handle holds between calls.
#pragma once

#include <minizip/unzip.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "services/ClosePool.h"
#include "services/zip/ZipExtract.h"
#include "services/zip/ZipReadAhead.h"

namespace qorv {

constexpr uint32_t kZipOutputBufferSize = 16384;
// A close this slow is a scanner's or a flush's, not the file system's own.
constexpr std::chrono::microseconds kZipSlowClose{1000};

// Entry facts the extraction needs beyond the record.
struct ZipEntryFacts {
    uint32_t flags;             // general-purpose bits
    uint32_t method;            // 0 stored, 8 deflated
    uint32_t crc;               // CRC-32 from the central directory
    uint32_t dosDateTime;       // DOS date (high 16 bits) and time
    uint64_t uncompressedSize;  // full width, for zip64 entries
};

// The values the layer tests in those facts and in a record's attributes.
constexpr uint32_t kZipFlagEncrypted = 0x01;
constexpr uint32_t kZipMethodStored = 0;

struct ZipExtractor {
    // The minizip archive object; closing it closes the archive file.
    ZipReader reader;
    int32_t entryCount = 0;
    // Entries the central directory walk reaches: lowered to the index
    // where a walk failed, so that later indexes fail at once.
    int32_t reachableCount = 0;
    // The reader's current entry; -1 when the walk must start from the first.
    int32_t readerIndex = -1;
    ZipEntryInfo cachedRecord = {};
    ZipEntryFacts cachedFacts = {};
    int32_t cachedIndex = -1;
    // kZipOutputBufferSize bytes, allocated at the first extraction.
    std::unique_ptr<unsigned char[]> outputBuffer;
    // The local extra field of the entry being read, reused between entries.
    std::vector<unsigned char> extraField;
    // Ends in "\" or "/"; empty when the given directory did not fit, which
    // makes every relative target fail.
    std::wstring baseDir;
    // The path ZipOpen was given: the read-ahead opens the archive again.
    std::wstring archivePath;
    // Whether each file is flushed before it is closed (ZipSetDurable).
    bool durable = false;
    // Set once a close took kZipSlowClose or longer: new files are closed
    // and put in place on the pool from then on.
    bool slowCloses = false;
    ClosePool closes;
    // Declared last: its thread ends before anything else goes.
    ZipReadAhead readAhead;
};

}  // namespace qorv
