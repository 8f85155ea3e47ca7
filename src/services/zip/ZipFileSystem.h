// The few file-system calls the extraction makes, over wide paths. Windows
// passes the paths to the wide API; the POSIX build encodes them as UTF-8
// and treats both "\" and "/" as separators.
#pragma once

#include <cstdint>

#include "services/zip/ZipExtract.h"

// Writes the process's current directory into buffer (capacity characters
// with the terminator). False when it cannot be read or does not fit.
bool ZipGetCurrentDirectory(wchar_t* buffer, int capacity);

// The existence test used before creating a directory.
bool ZipPathExists(const wchar_t* path);

// Creates one directory level; failures are left to show later.
void ZipCreateDirectory(const wchar_t* path);

// A target file being written: created (replacing an existing one) with the
// entry's attributes, closed when the object goes.
class ZipTargetFile {
public:
    ZipTargetFile() = default;
    ~ZipTargetFile();
    ZipTargetFile(const ZipTargetFile&) = delete;
    ZipTargetFile& operator=(const ZipTargetFile&) = delete;

    bool Create(const wchar_t* path, uint32_t attributes);
    bool Write(const void* data, uint32_t size);
    // A zero time leaves that time as it is.
    bool SetTimes(const FILETIME& creation, const FILETIME& access, const FILETIME& write);

private:
#ifdef _WIN32
    HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
    int descriptor_ = -1;
#endif
};
