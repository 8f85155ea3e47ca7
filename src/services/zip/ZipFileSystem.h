// The few file-system calls the extraction makes, over wide paths. Windows
// passes the paths to the wide API; the POSIX build encodes them as UTF-8
// and treats both "\" and "/" as separators.
#pragma once

#include <cstdint>

#include "services/zip/ZipExtract.h"

#ifdef _WIN32
#include "services/UniqueHandle.h"
#endif

namespace qorv {

// Writes the process's current directory into buffer (capacity characters
// with the terminator). False when it cannot be read or does not fit.
bool ZipGetCurrentDirectory(wchar_t* buffer, int capacity);

// A target file being written. An old file at the target stays as it was
// until Commit: the new bytes go to a new file when nothing is there, else to
// the replacement file, which Commit moves over the old one (read-only or
// not). What was not committed is deleted when the object goes, so an entry
// that fails leaves exactly what was there before.
class ZipTargetFile {
public:
    enum class Opened { kOk, kFolderMissing, kFailed };

    ZipTargetFile() = default;
    ~ZipTargetFile();
    ZipTargetFile(const ZipTargetFile&) = delete;
    ZipTargetFile& operator=(const ZipTargetFile&) = delete;

    // replacement: where the bytes go when path exists; on the same volume.
    Opened Open(const wchar_t* path, const wchar_t* replacement, uint32_t attributes);
    bool Write(const void* data, uint32_t size);
    // A zero time leaves that time as it is.
    bool SetTimes(const FILETIME& creation, const FILETIME& access, const FILETIME& write);
    // Closes the file, puts it at path and gives it the entry's attributes;
    // false, with the old file as it was, when it cannot take its place.
    bool Commit();

private:
    wchar_t m_target[kZipMaxPath] = {};
    wchar_t m_written[kZipMaxPath] = {};  // m_target, or the replacement
    uint32_t m_attributes = 0;
    bool m_committed = false;
#ifdef _WIN32
    KernelHandle m_file;
#else
    int m_descriptor = -1;
#endif
};

}  // namespace qorv
