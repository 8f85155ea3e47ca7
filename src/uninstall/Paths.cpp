#include "uninstall/Paths.h"

#include <shlobj.h>

#include "InstallNames.h"
#include "services/FileSystem.h"

namespace qorv {

bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool IsInside(const std::wstring& path, const std::wstring& folder) {
    return path.size() > folder.size() && SameName(path.substr(0, folder.size()), folder);
}

std::wstring WithoutTrailingSlash(std::wstring path) {
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

std::wstring ParentOf(const std::wstring& directory) {
    const std::wstring path = WithoutTrailingSlash(directory);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

DWORD LinkAttributes(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(WithoutTrailingSlash(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? attributes : 0;
}

bool UnderLocalAppData(const std::wstring& installDir) {
    wchar_t local[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, local, CSIDL_LOCAL_APPDATA, FALSE)) return false;
    wchar_t full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameW(installDir.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH || !SameName(full, installDir)) return false;
    return IsInside(installDir, WithoutTrailingSlash(local) + L"\\");
}

std::wstring OwnImage() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? path : std::wstring();
}

std::wstring OwnFileName() {
    wchar_t name[32] = {};  // the longest name is 28 units
    wsprintfW(name, kUninstallerTempFormat, GetCurrentProcessId());
    return name;
}

std::wstring TempName() {
    wchar_t temp[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    return AppendPath(temp, OwnFileName());
}

}  // namespace qorv
