#include "services/zip/ZipFileSystem.h"

#include <cwchar>

namespace qorv {

bool ZipGetCurrentDirectory(wchar_t* buffer, int capacity) {
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(capacity), buffer);
    return length != 0 && length < static_cast<DWORD>(capacity);
}

ZipTargetFile::~ZipTargetFile() {
    m_file.Reset();
    if (!m_committed && m_written[0] != L'\0') DeleteFileW(m_written);
}

ZipTargetFile::Opened ZipTargetFile::Open(const wchar_t* path, const wchar_t* replacement,
                                          uint32_t attributes) {
    wcscpy(m_target, path);
    m_attributes = attributes;
    // Never created read-only: a file that fails must be deletable.
    m_file.Reset(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             attributes & ~kZipAttrReadOnly, nullptr));
    const DWORD error = GetLastError();  // Reset closed nothing: it held no file
    if (m_file.IsValid()) {
        wcscpy(m_written, path);
        return Opened::kOk;
    }
    if (error == ERROR_PATH_NOT_FOUND) return Opened::kFolderMissing;
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return Opened::kFailed;
    // Plain attributes: an earlier replacement left hidden would refuse
    // CREATE_ALWAYS with others. Commit gives the entry's.
    m_file.Reset(CreateFileW(replacement, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_file.IsValid()) return Opened::kFailed;
    wcscpy(m_written, replacement);
    return Opened::kOk;
}

bool ZipTargetFile::Write(const void* data, uint32_t size) {
    DWORD written = 0;
    return WriteFile(m_file.Get(), data, size, &written, nullptr) && written == size;
}

bool ZipTargetFile::SetTimes(const FILETIME& creation, const FILETIME& access,
                             const FILETIME& write) {
    return SetFileTime(m_file.Get(), &creation, &access, &write) != FALSE;
}

bool ZipTargetFile::Commit() {
    m_file.Reset();
    const bool replacing = wcscmp(m_written, m_target) != 0;
    if (replacing) {
        // A read-only old file refuses to be replaced: packages install
        // files read-only, and the next update must still replace them.
        const DWORD old = GetFileAttributesW(m_target);
        const bool unlocked = old != INVALID_FILE_ATTRIBUTES && (old & kZipAttrReadOnly) != 0 &&
                              SetFileAttributesW(m_target, old & ~kZipAttrReadOnly);
        if (!MoveFileExW(m_written, m_target, MOVEFILE_REPLACE_EXISTING)) {
            if (unlocked) SetFileAttributesW(m_target, old);
            return false;
        }
    }
    m_committed = true;
    if (replacing || (m_attributes & kZipAttrReadOnly) != 0) {
        SetFileAttributesW(m_target, m_attributes != 0 ? m_attributes : FILE_ATTRIBUTE_NORMAL);
    }
    return true;
}

}  // namespace qorv
