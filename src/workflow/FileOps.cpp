#include "workflow/FileOps.h"

#ifdef _WIN32
#include <windows.h>

#include "services/UniqueHandle.h"
#else
#include <dirent.h>
#include <unistd.h>
#include <sys/stat.h>

#include "services/Text.h"
#endif

namespace qorv {

std::wstring AppendPath(const std::wstring& directory, const std::wstring& name) {
    std::wstring path = directory;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/' && !name.empty()) {
        path += L'\\';
    }
    path += name;
    return path.size() <= kMaxPathChars ? path : std::wstring();
}

#ifdef _WIN32

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

#else

namespace {

std::string NativePath(const std::wstring& path) {
    std::string native = Utf16ToUtf8(path);
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
    return native;
}

}  // namespace

bool PathExists(const std::wstring& path) {
    struct stat status;
    return lstat(NativePath(path).c_str(), &status) == 0;
}

bool DeleteOneFile(const std::wstring& path) {
    const std::string native = NativePath(path);
    struct stat status;
    if (lstat(native.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
        (status.st_mode & S_IWUSR) == 0) {
        return false;
    }
    return unlink(native.c_str()) == 0;
}

bool ListDirectory(const std::wstring& directory, std::vector<DirEntry>* entries) {
    const std::string native = NativePath(directory);
    DIR* dir = opendir(native.c_str());
    if (dir == nullptr) return false;
    while (const dirent* found = readdir(dir)) {
        const std::string name = found->d_name;
        if (name == "." || name == "..") continue;
        struct stat info;
        if (lstat((native + "/" + name).c_str(), &info) != 0) continue;  // gone meanwhile
        DirEntry entry;
        entry.name = Utf8ToUtf16(name.data(), name.size());
        entry.directory = S_ISDIR(info.st_mode);
        entry.link = S_ISLNK(info.st_mode);
        entries->push_back(entry);
    }
    closedir(dir);
    return true;
}

bool RemoveDirectoryOrLink(const std::wstring& path, const DirEntry& entry) {
    const std::string native = NativePath(path);
    return (entry.link ? unlink(native.c_str()) : rmdir(native.c_str())) == 0;
}

void ClearReadOnly(const std::wstring& path) {
    const std::string native = NativePath(path);
    struct stat status;
    if (lstat(native.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return;
    chmod(native.c_str(), status.st_mode | S_IWUSR);
}

#endif

}  // namespace qorv
