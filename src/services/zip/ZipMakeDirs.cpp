#include "services/zip/ZipMakeDirs.h"

#include <cwchar>

#include "services/zip/ZipFileSystem.h"

namespace {

void CreateIfMissing(const wchar_t* path) {
    if (!ZipPathExists(path)) ZipCreateDirectory(path);
}

}  // namespace

void ZipMakeDirs(const wchar_t* base, const wchar_t* path) {
    if (base != nullptr && !ZipPathExists(base)) ZipCreateDirectory(base);
    if (path[0] == L'\0') return;
    const size_t baseLength = base != nullptr ? wcslen(base) : 0;
    const size_t pathLength = wcslen(path);
    if (baseLength + pathLength > static_cast<size_t>(kZipMaxPath - 1)) return;
    wchar_t level[kZipMaxPath] = {};
    wmemcpy(level, base != nullptr ? base : L"", baseLength);
    wmemcpy(level + baseLength, path, pathLength);
    // Each separator after the first character ends a level to make first.
    for (size_t i = 1; i < pathLength; ++i) {
        const wchar_t c = path[i];
        if (c != L'\\' && c != L'/') continue;
        level[baseLength + i] = L'\0';
        CreateIfMissing(level);
        level[baseLength + i] = c;
    }
    CreateIfMissing(level);
}
