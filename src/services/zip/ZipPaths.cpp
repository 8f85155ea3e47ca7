#include "services/zip/ZipPaths.h"

namespace qorv {

std::wstring ZipSplitTarget(const wchar_t* target, const wchar_t** file) {
    const wchar_t* lastSeparator = nullptr;
    for (const wchar_t* p = target; *p != L'\0'; ++p) {
        if (*p == L'\\' || *p == L'/') lastSeparator = p;
    }
    *file = lastSeparator != nullptr ? lastSeparator + 1 : target;
    return std::wstring(target, static_cast<size_t>(*file - target));
}

}  // namespace qorv
