#include "services/zip/ZipFileSystem.h"

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
}

bool ZipTargetFile::Create(const wchar_t* path, uint32_t attributes) {
    handle_ = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
    return handle_ != INVALID_HANDLE_VALUE;
}

bool ZipTargetFile::Write(const void* data, uint32_t size) {
    DWORD written = 0;
    return WriteFile(handle_, data, size, &written, nullptr) && written == size;
}

bool ZipTargetFile::SetTimes(const FILETIME& creation, const FILETIME& access,
                             const FILETIME& write) {
    return SetFileTime(handle_, &creation, &access, &write) != FALSE;
}
