#include "workflow/FileOps.h"

#ifdef _WIN32
#include <windows.h>
#include <shlwapi.h>
#else
#include <unistd.h>
#include <sys/stat.h>

#include "services/Utf16.h"
#endif

namespace qorv {

#ifdef _WIN32

std::wstring AppendPath(const std::wstring& directory, const std::wstring& name) {
    wchar_t path[MAX_PATH] = {};
    if (directory.size() >= MAX_PATH) return directory;
    directory.copy(path, directory.size());
    PathAppendW(path, name.c_str());
    return path;
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

#else

std::wstring AppendPath(const std::wstring& directory, const std::wstring& name) {
    constexpr size_t kMaxPath = 260;
    std::wstring path = directory;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/' && !name.empty()) {
        path += L'\\';
    }
    path += name;
    return path.size() < kMaxPath ? path : directory;
}

namespace {

std::string NativePath(const std::wstring& path) {
    std::string native = Utf16ToUtf8(path);
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
    return native;
}

}  // namespace

bool DeleteOneFile(const std::wstring& path) {
    const std::string native = NativePath(path);
    struct stat status;
    if (lstat(native.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
        (status.st_mode & S_IWUSR) == 0) {
        return false;
    }
    return unlink(native.c_str()) == 0;
}

void ClearReadOnly(const std::wstring& path) {
    const std::string native = NativePath(path);
    struct stat status;
    if (lstat(native.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return;
    chmod(native.c_str(), status.st_mode | S_IWUSR);
}

#endif

}  // namespace qorv
