#include "services/zip/ZipFileSystem.h"

#include <cwchar>

bool ZipGetCurrentDirectory(wchar_t* buffer, int capacity) {
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(capacity), buffer);
    return length != 0 && length < static_cast<DWORD>(capacity);
}

bool ZipPathExists(const wchar_t* path) {
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

void ZipCreateDirectory(const wchar_t* path) {
    CreateDirectoryW(path, nullptr);
}

ZipTargetFile::~ZipTargetFile() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    if (!committed_ && written_[0] != L'\0') DeleteFileW(written_);
}

ZipTargetFile::Opened ZipTargetFile::Open(const wchar_t* path, const wchar_t* replacement,
                                          uint32_t attributes) {
    wcscpy(target_, path);
    attributes_ = attributes;
    // Never created read-only: a file that fails must be deletable.
    handle_ = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          attributes & ~kZipAttrReadOnly, nullptr);
    if (handle_ != INVALID_HANDLE_VALUE) {
        wcscpy(written_, path);
        return Opened::kOk;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_PATH_NOT_FOUND) return Opened::kFolderMissing;
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return Opened::kFailed;
    // Plain attributes: an earlier replacement left hidden would refuse
    // CREATE_ALWAYS with others. Commit gives the entry's.
    handle_ = CreateFileW(replacement, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) return Opened::kFailed;
    wcscpy(written_, replacement);
    return Opened::kOk;
}

bool ZipTargetFile::Write(const void* data, uint32_t size) {
    DWORD written = 0;
    return WriteFile(handle_, data, size, &written, nullptr) && written == size;
}

bool ZipTargetFile::SetTimes(const FILETIME& creation, const FILETIME& access,
                             const FILETIME& write) {
    return SetFileTime(handle_, &creation, &access, &write) != FALSE;
}

bool ZipTargetFile::Commit() {
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    const bool replacing = wcscmp(written_, target_) != 0;
    if (replacing) {
        // A read-only old file refuses to be replaced: packages install
        // files read-only, and the next update must still replace them.
        const DWORD old = GetFileAttributesW(target_);
        const bool unlocked = old != INVALID_FILE_ATTRIBUTES && (old & kZipAttrReadOnly) != 0 &&
                              SetFileAttributesW(target_, old & ~kZipAttrReadOnly);
        if (!MoveFileExW(written_, target_, MOVEFILE_REPLACE_EXISTING)) {
            if (unlocked) SetFileAttributesW(target_, old);
            return false;
        }
    }
    committed_ = true;
    if (replacing || (attributes_ & kZipAttrReadOnly) != 0) {
        SetFileAttributesW(target_, attributes_ != 0 ? attributes_ : FILE_ATTRIBUTE_NORMAL);
    }
    return true;
}
