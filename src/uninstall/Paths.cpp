#include "uninstall/Paths.h"

#include <knownfolders.h>
#include <shlobj.h>

#include "InstallNames.h"
#include "services/FileSystem.h"
#include "services/SystemPath.h"

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
    const std::wstring local = KnownFolder(FOLDERID_LocalAppData);
    if (local.empty()) return false;
    const std::wstring full = GrowingPath([&installDir](wchar_t* buffer, DWORD capacity) {
        return GetFullPathNameW(installDir.c_str(), capacity, buffer, nullptr);
    });
    if (full.empty() || !SameName(full, installDir)) return false;
    return IsInside(installDir, WithoutTrailingSlash(local) + L"\\");
}

std::wstring OwnImage() {
    return GrowingPath([](wchar_t* buffer, DWORD capacity) {
        return GetModuleFileNameW(nullptr, buffer, capacity);
    });
}

std::wstring OwnFileName() {
    wchar_t name[32] = {};  // the longest name is 28 units
    wsprintfW(name, kUninstallerTempFormat, GetCurrentProcessId());
    return name;
}

std::wstring TempFolder() {
    return GrowingPath(
        [](wchar_t* buffer, DWORD capacity) { return GetTempPathW(capacity, buffer); });
}

std::wstring TempName() {
    const std::wstring temp = TempFolder();
    return temp.empty() ? std::wstring() : AppendPath(temp, OwnFileName());
}

}  // namespace qorv
