#include "services/FileSystem.h"

namespace qorv {

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

}  // namespace

std::wstring AppendPath(const std::wstring& directory, const std::wstring& name) {
    std::wstring path = directory;
    if (!path.empty() && !IsSeparator(path.back()) && !name.empty()) path += L'\\';
    path += name;
    return path.size() <= kMaxPathChars ? path : std::wstring();
}

HRESULT MakeDirectories(const std::wstring& path) {
    if (path.size() > kMaxPathChars) return kResultTooLarge;
    for (size_t end = 1; end <= path.size(); ++end) {
        if (end < path.size() && !IsSeparator(path[end])) continue;
        const std::wstring level = path.substr(0, end);
        // A drive ("C:") or the root needs no making. The attributes tell
        // that a folder is there: a find-first search misses some (under
        // Wine a mount point such as Z:\dev).
        if (IsSeparator(level.back()) || level.back() == L':' || ReadFileFacts(level).exists) {
            continue;
        }
        const HRESULT made = MakeOneDirectory(level);
        if (made != S_OK && !ReadFileFacts(level).exists) return made;
    }
    return S_OK;
}

}  // namespace qorv
