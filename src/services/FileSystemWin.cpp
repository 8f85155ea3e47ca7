#include <windows.h>

#include "services/FileSystem.h"
#include "services/UniqueHandle.h"

namespace qorv {

HRESULT MakeOneDirectory(const std::wstring& path) {
    return CreateDirectoryW(path.c_str(), nullptr) ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

bool PathExists(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    return FindHandle(FindFirstFileW(path.c_str(), &found)).IsValid();
}

bool DeleteOneFile(const std::wstring& path) {
    return DeleteFileW(path.c_str()) != FALSE;
}

void ClearReadOnly(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return;
    }
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

bool ListDirectory(const std::wstring& directory, std::vector<DirEntry>* entries) {
    const std::wstring pattern = AppendPath(directory, L"*");
    if (pattern.empty()) return false;
    WIN32_FIND_DATAW found;
    const FindHandle search(FindFirstFileW(pattern.c_str(), &found));
    if (!search.IsValid()) return false;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        DirEntry entry;
        entry.name = name;
        entry.directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        entries->push_back(entry);
    } while (FindNextFileW(search.Get(), &found));
    return GetLastError() == ERROR_NO_MORE_FILES;
}

// RemoveDirectoryW on a junction or a directory link removes the link, not
// the folder it points to; a file link goes with DeleteFileW.
bool RemoveDirectoryOrLink(const std::wstring& path, const DirEntry& entry) {
    if (entry.link && !entry.directory) return DeleteFileW(path.c_str()) != FALSE;
    return RemoveDirectoryW(path.c_str()) != FALSE;
}

FileFacts ReadFileFacts(const std::wstring& path) {
    FileFacts facts;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return facts;
    facts.exists = true;
    facts.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    facts.writeTime = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                      data.ftLastWriteTime.dwLowDateTime;
    return facts;
}

HRESULT MoveOver(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? S_OK
               : HRESULT_FROM_WIN32(GetLastError());
}

namespace {

// S_OK when path opens for access with every sharing allowed.
HRESULT OpensFor(const std::wstring& path, DWORD access) {
    const KernelHandle file(CreateFileW(path.c_str(), access,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.IsValid() ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

}  // namespace

HRESULT CheckReplaceable(const std::wstring& path, bool* moveAside) {
    *moveAside = false;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return S_OK;
    }
    // Writing with every sharing allowed fails where replacing would: a
    // holder that shares nothing, a running image. A read-only file takes
    // no writer; its sharing is told by asking to delete it.
    const DWORD access = (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? DELETE : GENERIC_WRITE;
    const HRESULT writable = OpensFor(path, access);
    if (writable == S_OK || access == DELETE) return writable;
    // A running image still lets itself be renamed; a holder sharing
    // nothing does not.
    if (OpensFor(path, DELETE) != S_OK) return writable;
    *moveAside = true;
    return S_OK;
}

HRESULT FreeBytes(const std::wstring& path, uint64_t* bytes) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr)) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    *bytes = available.QuadPart;
    return S_OK;
}

HRESULT MoveAside(const std::wstring& path, const std::wstring& aside) {
    if (!MoveFileExW(path.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    const DWORD attributes = GetFileAttributesW(aside.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        SetFileAttributesW(aside.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
    }
    return S_OK;
}

HRESULT FlushFile(const std::wstring& path) {
    // Flushing needs a writer, which a read-only file refuses: the attribute
    // goes for that time.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const bool readOnly =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly) SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    HRESULT result = S_OK;
    {
        const KernelHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.IsValid() || !FlushFileBuffers(file.Get())) {
            result = HRESULT_FROM_WIN32(GetLastError());
        }
    }
    if (readOnly) SetFileAttributesW(path.c_str(), attributes);
    return result;
}

}  // namespace qorv
