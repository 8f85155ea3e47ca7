#include "services/FileSystem.h"

#include <vector>

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
    // Most callers find the folder there already, and under Wine each look
    // costs a walk of the whole path: the levels are looked at from the
    // deepest up, as far as the first one there, and only those below it are
    // made. A drive ("C:") or the root needs no making. The attributes tell
    // that a folder is there: a find-first search misses some (under Wine a
    // mount point such as Z:\dev).
    std::vector<size_t> missing;  // where each level to make ends, deepest first
    for (size_t end = path.size(); end > 0; --end) {
        if (end < path.size() && !IsSeparator(path[end])) continue;
        if (IsSeparator(path[end - 1]) || path[end - 1] == L':') continue;
        if (ReadFileFacts(path.substr(0, end)).exists) break;
        missing.push_back(end);
    }
    for (auto end = missing.rbegin(); end != missing.rend(); ++end) {
        const std::wstring level = path.substr(0, *end);
        const HRESULT made = MakeOneDirectory(level);
        if (made != S_OK && !ReadFileFacts(level).exists) return made;
    }
    return S_OK;
}

}  // namespace qorv
