#include "workflow/FileOps.h"

#ifdef _WIN32
#include <windows.h>
#include <shlwapi.h>
#else
#include <unistd.h>

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

bool DeleteOneFile(const std::wstring& path) {
    std::string native = Utf16ToUtf8(path);
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
    return unlink(native.c_str()) == 0;
}

#endif

}  // namespace qorv
