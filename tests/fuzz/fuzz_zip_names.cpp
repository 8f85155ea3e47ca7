// The name rules alone: stored name bytes decoded, cleaned and tested the way
// an entry's record is made and its target checked. Cleaning always ends in a
// relative name, is stable, and a name that passes the escape test has no
// parent component (as Windows reads it) and no stream or drive colon.
#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "FuzzFail.h"
#include "services/zip/ZipNames.h"

using namespace qorv;

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// Windows drops trailing dots and spaces from a component, so ".. " and
// "..." may both name the parent; the component is what remains.
bool NamesParent(const wchar_t* begin, const wchar_t* end) {
    while (end > begin && (end[-1] == L'.' || end[-1] == L' ')) --end;
    const bool onlyTrimmed = end == begin;
    const bool startsWithTwoDots = begin[0] == L'.' && begin[1] == L'.';
    return onlyTrimmed && startsWithTwoDots;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    wchar_t name[kZipMaxPath];
    if (!ZipDecodeName(reinterpret_cast<const char*>(data), size, name)) return 0;
    if (wcslen(name) >= static_cast<size_t>(kZipMaxPath)) Fail("decoded name overflows");
    ZipCleanName(name);
    if (ZipIsAbsolutePath(name)) Fail("cleaned name is absolute");

    wchar_t again[kZipMaxPath];
    wmemcpy(again, name, kZipMaxPath);
    ZipCleanName(again);
    if (wcscmp(again, name) != 0) Fail("cleaning is not stable");

    if (ZipTargetEscapesBase(name)) return 0;
    if (wcschr(name, L':') != nullptr) Fail("colon passes");
    const wchar_t* begin = name;
    for (;;) {
        const wchar_t* end = begin;
        while (*end != L'\0' && !IsSeparator(*end)) ++end;
        if (end - begin >= 2 && NamesParent(begin, end)) Fail("parent component passes");
        if (*end == L'\0') break;
        begin = end + 1;
    }
    return 0;
}
