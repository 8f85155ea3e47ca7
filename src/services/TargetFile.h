// The file layer's target file: a file written whole or not at all, as the
// zip layer extracts an entry. Its platform calls sit with the by-path ones
// in FileSystemWin.cpp and FileSystemPosix.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "services/UniqueHandle.h"

namespace qorv {

// A target file being written. An old file at the target stays as it was
// until Commit: the new bytes go to a new file when nothing is there, else to
// the replacement file, which Commit moves over the old one (read-only or
// not). What was not committed is deleted when the object goes, so an entry
// that fails leaves exactly what was there before.
class TargetFile {
public:
    enum class Opened { kOk, kFolderMissing, kExists, kFailed };
    // kNotWritten: the flush or the close failed, so the bytes may not all
    // be on the disk; kNotMoved: the file cannot take the target's place.
    enum class Committed { kOk, kNotWritten, kNotMoved };

    TargetFile() = default;
    ~TargetFile();
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;

    // A new file at path; kExists when a file is there already.
    // attributes: the Windows attribute bits the file has once committed;
    // the POSIX build keeps the read-only one, as the owner's write bit.
    Opened Open(const std::wstring& path, uint32_t attributes);
    // After kExists: the bytes go to replacement, on the same volume.
    Opened OpenReplacement(const std::wstring& replacement);
    bool Write(const void* data, uint32_t size);
    // Times in 100-ns intervals since 1601-01-01 UTC; a zero time leaves
    // that time as it is.
    bool SetTimes(uint64_t creation, uint64_t access, uint64_t write);
    // Flushes the file when asked, closes it, puts it at path and gives it
    // the entry's attributes; on a failure the old file is as it was.
    Committed Commit(bool flush);
    // Where the bytes are written.
    const std::wstring& Written() const { return m_written; }

private:
    std::wstring m_target;
    std::wstring m_written;  // m_target, or the replacement
    uint32_t m_attributes = 0;
    bool m_committed = false;
#ifdef _WIN32
    KernelHandle m_file;
#else
    FileDescriptor m_descriptor;
#endif
};

}  // namespace qorv
