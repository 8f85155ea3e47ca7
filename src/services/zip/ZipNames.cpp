#include "services/zip/ZipNames.h"

#include <cstddef>
#include <cwchar>

#include <string>

#include "services/Text.h"

namespace qorv {

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// Drops the first count characters of name in place.
void DropPrefix(wchar_t* name, size_t count) {
    wmemmove(name, name + count, wcslen(name + count) + 1);
}

// Applies the first rule that matches; false when none does.
bool ApplyOneRule(wchar_t* name) {
    if (name[0] != L'\0' && name[1] == L':') {
        DropPrefix(name, 2);
        return true;
    }
    if (IsSeparator(name[0])) {
        DropPrefix(name, 1);
        return true;
    }
    static const wchar_t* const kParentSequences[] = {L"\\..\\", L"\\../", L"/../", L"/..\\"};
    for (const wchar_t* sequence : kParentSequences) {
        if (const wchar_t* found = wcsstr(name, sequence)) {
            DropPrefix(name, static_cast<size_t>(found - name) + wcslen(sequence));
            return true;
        }
    }
    return false;
}

// A component made only of dots and spaces that starts with "..": Windows
// trims trailing dots and spaces, so all of these can mean the parent.
bool IsParentComponent(const wchar_t* begin, const wchar_t* end) {
    if (end - begin < 2 || begin[0] != L'.' || begin[1] != L'.') return false;
    for (const wchar_t* p = begin; p != end; ++p) {
        if (*p != L'.' && *p != L' ') return false;
    }
    return true;
}

// ASCII letters of text (upper case) match begin, whatever their case.
bool SameLetters(const wchar_t* begin, const char* text) {
    for (; *text != '\0'; ++begin, ++text) {
        if ((*begin | 0x20) != (*text | 0x20)) return false;
    }
    return true;
}

// A component Windows opens as a device in any folder: a reserved name,
// alone or before an extension, with or without trailing dots and spaces.
// Writing there would send the entry's bytes to the device and report it
// stored.
bool IsDeviceComponent(const wchar_t* begin, const wchar_t* end) {
    const wchar_t* stem = begin;
    while (stem != end && *stem != L'.') ++stem;
    while (stem != begin && stem[-1] == L' ') --stem;
    const ptrdiff_t length = stem - begin;
    if (length == 3) {
        static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL"};
        for (const char* name : kNames) {
            if (SameLetters(begin, name)) return true;
        }
        return false;
    }
    if (length != 4 || !(SameLetters(begin, "COM") || SameLetters(begin, "LPT"))) return false;
    // 1-9 and the superscripts one, two and three, which Windows takes too.
    const wchar_t digit = begin[3];
    return (digit >= L'1' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' ||
           digit == L'\u00B3';
}

}  // namespace

bool ZipDecodeName(const char* stored, size_t length, wchar_t (&name)[kZipMaxPath]) {
    name[0] = L'\0';
    if (length == 0) return true;
    const std::wstring decoded = Utf8ToUtf16(stored, length);
    if (decoded.size() > static_cast<size_t>(kZipMaxPath - 1)) return false;
    wmemcpy(name, decoded.c_str(), decoded.size() + 1);
    return true;
}

void ZipCleanName(wchar_t* name) {
    while (ApplyOneRule(name)) {
    }
}

bool ZipIsAbsolutePath(const wchar_t* path) {
    return IsSeparator(path[0]) || (path[0] != L'\0' && path[1] == L':');
}

bool ZipTargetEscapesBase(const wchar_t* target) {
    if (ZipIsAbsolutePath(target)) return false;
    if (wcschr(target, L':') != nullptr) return true;
    const wchar_t* begin = target;
    for (;;) {
        const wchar_t* end = begin;
        while (*end != L'\0' && !IsSeparator(*end)) ++end;
        if (IsParentComponent(begin, end) || IsDeviceComponent(begin, end)) return true;
        if (*end == L'\0') return false;
        begin = end + 1;
    }
}

}  // namespace qorv
