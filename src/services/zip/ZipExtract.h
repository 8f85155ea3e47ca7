// Unpacking a zip archive entry by entry under a base directory.
//
// Call order: ZipOpen, ZipSetBaseDir, ZipGetEntry(-1) for the count, then for
// each index ZipGetEntry and ZipExtractEntry with the record's name, ZipClose.
// Every operation also stores its result as the process-wide last result.
//
// Once closing a file proved slow, new files are closed on threads of the
// handle's own: their bytes are at the target when ZipExtractEntry returns,
// but they are closed (flushed, when durable) and given their attributes only
// by ZipFinishFiles or ZipClose, which report a file that failed there.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
// The same layout as on Windows: 100-ns intervals since 1601-01-01 UTC.
struct FILETIME {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
};
#endif

namespace qorv {

// The result of every operation.
using ZipResult = uint32_t;
// Success.
constexpr ZipResult ZipOk = 0;
// The archive cannot be opened or is no zip archive, the target is refused
// (it would leave the base directory, names a device, does not fit) or the
// target file cannot be created.
constexpr ZipResult ZipErrFile = 0x200;
// Writing to the target file failed.
constexpr ZipResult ZipErrWrite = 0x400;
// The local header disagrees with the central record, or the method is
// neither stored nor deflate.
constexpr ZipResult ZipErrCorrupt = 0x700;
// The archive cannot be positioned at or read through the entry's header.
constexpr ZipResult ZipErrRead = 0x800;
// An encrypted entry failed its check byte (entries are read without a
// password).
constexpr ZipResult ZipErrPassword = 0x1000;
// No handle, or an entry index out of range.
constexpr ZipResult ZipErrArgs = 0x10000;
// The handle is not one opened for extraction.
constexpr ZipResult ZipErrMode = 0x80000;
// The entry's data cannot be read or decompressed to its end, or fails its
// CRC-32.
constexpr ZipResult ZipErrInflate = 0x5000000;

constexpr int kZipMaxPath = 260;

// The Windows attribute bits a record's attributes carry.
constexpr uint32_t kZipAttrReadOnly = 0x01;
constexpr uint32_t kZipAttrHidden = 0x02;
constexpr uint32_t kZipAttrSystem = 0x04;
constexpr uint32_t kZipAttrDirectory = 0x10;
constexpr uint32_t kZipAttrArchive = 0x20;

struct ZipEntryInfo {
    int32_t index;
    wchar_t name[kZipMaxPath];
    uint32_t attributes;
    FILETIME accessTime;
    FILETIME creationTime;
    FILETIME writeTime;
    uint32_t compressedSize;
    uint32_t uncompressedSize;
};

struct ZipExtractor;

struct ZipHandleData {
    int32_t kind;  // 1: opened for extraction
    ZipExtractor* extractor;
};
using ZipHandle = ZipHandleData*;

constexpr int32_t kZipKindExtract = 1;

ZipHandle ZipOpen(const wchar_t* archivePath);
ZipResult ZipSetBaseDir(ZipHandle handle, const wchar_t* directory);
ZipResult ZipGetEntry(ZipHandle handle, int32_t index, ZipEntryInfo* entry);
ZipResult ZipExtractEntry(ZipHandle handle, int32_t index, const wchar_t* target);
// Whether each file is flushed to the disk before it is closed; not at first.
ZipResult ZipSetDurable(ZipHandle handle, bool durable);
// Waits until every file extracted is closed and in place. The first that
// failed since the last call gives the result (ZipErrWrite: its bytes may not
// all be on the disk; ZipErrFile: it cannot take its target's place, which
// stays as it was) and its entry's index in *index; -1 when none failed.
ZipResult ZipFinishFiles(ZipHandle handle, int32_t* index);
// Also fails as ZipFinishFiles would.
ZipResult ZipClose(ZipHandle handle);

// What the central record of an entry says, read without its local header:
// enough to confirm that the directory this layer reads is the one a caller
// planned with (an archive may hold more than one).
struct ZipEntryCheck {
    char storedName[kZipMaxPath];  // the name's bytes as stored, not terminated
    uint32_t storedNameLength;
    uint32_t crc;
    uint64_t compressedSize;
    uint64_t uncompressedSize;
};
// ZipErrArgs for an index out of range, ZipErrRead when the directory cannot
// be walked or read there, ZipErrFile for a name of kZipMaxPath bytes or more.
ZipResult ZipGetEntryCheck(ZipHandle handle, int32_t index, ZipEntryCheck* check);

// The result of the last operation, process-wide.
ZipResult ZipLastResult();

// True when ZipExtractEntry refuses target as a relative name: a ".."
// component or a ":" would leave the base directory, and a component that
// names a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension)
// would write to the device instead of a file under it.
bool ZipTargetEscapesBase(const wchar_t* target);

}  // namespace qorv
