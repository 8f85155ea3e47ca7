// Unpacking a zip archive entry by entry under a base directory.
//
// Call order: ZipOpen, ZipSetBaseDir, ZipGetEntry(-1) for the count, then for
// each index ZipGetEntry and ZipExtractEntry with the record's name, ZipClose.
// Every operation also stores its result as the process-wide last result.
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

using ZipResult = uint32_t;
constexpr ZipResult ZipOk = 0;
constexpr ZipResult ZipErrFile = 0x200;
constexpr ZipResult ZipErrWrite = 0x400;
constexpr ZipResult ZipErrCorrupt = 0x700;
constexpr ZipResult ZipErrRead = 0x800;
constexpr ZipResult ZipErrPassword = 0x1000;
constexpr ZipResult ZipErrArgs = 0x10000;
constexpr ZipResult ZipErrMode = 0x80000;
constexpr ZipResult ZipErrInflate = 0x5000000;

constexpr int kZipMaxPath = 260;

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
ZipResult ZipClose(ZipHandle handle);

// The result of the last operation, process-wide.
ZipResult ZipLastResult();

// True when ZipExtractEntry refuses target as a relative name: a ".."
// component or a ":" would leave the base directory, and a component that
// names a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension)
// would write to the device instead of a file under it.
bool ZipTargetEscapesBase(const wchar_t* target);
