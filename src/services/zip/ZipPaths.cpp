#include "services/zip/ZipPaths.h"

#include <cwchar>

namespace qorv {

bool ZipJoinPath(wchar_t (&out)[kZipMaxPath], const wchar_t* first, const wchar_t* second,
                 const wchar_t* third) {
    const size_t lengths[3] = {wcslen(first), wcslen(second), wcslen(third)};
    out[0] = L'\0';
    if (lengths[0] + lengths[1] + lengths[2] > static_cast<size_t>(kZipMaxPath - 1)) return false;
    wchar_t* end = wmemcpy(out, first, lengths[0]) + lengths[0];
    end = wmemcpy(end, second, lengths[1]) + lengths[1];
    end = wmemcpy(end, third, lengths[2]) + lengths[2];
    *end = L'\0';
    return true;
}

bool ZipSplitTarget(const wchar_t* target, wchar_t (&directory)[kZipMaxPath],
                    const wchar_t** file) {
    const wchar_t* lastSeparator = nullptr;
    for (const wchar_t* p = target; *p != L'\0'; ++p) {
        if (*p == L'\\' || *p == L'/') lastSeparator = p;
    }
    *file = lastSeparator != nullptr ? lastSeparator + 1 : target;
    const size_t length = static_cast<size_t>(*file - target);
    directory[0] = L'\0';
    if (length > static_cast<size_t>(kZipMaxPath - 1)) return false;
    wmemcpy(directory, target, length);
    directory[length] = L'\0';
    return true;
}

}  // namespace qorv
