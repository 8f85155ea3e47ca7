#include "delivery/PackageVersion.h"

#include <algorithm>

namespace qorv {

namespace {

constexpr wchar_t kSpace[] = L" \t\r\n\v\f";

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Reads the token at text[first, last) as a digest in hex.
bool ParseHexToken(const std::wstring& text, size_t first, size_t last, Sha256Digest* digest) {
    if (last - first != digest->size() * 2) return false;
    for (size_t i = 0; i < digest->size(); ++i) {
        const int high = HexValue(text[first + 2 * i]);
        const int low = HexValue(text[first + 2 * i + 1]);
        if (high < 0 || low < 0) return false;
        (*digest)[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return true;
}

}  // namespace

bool ParsePackageVersion(const std::wstring& text, PackageVersion* version) {
    *version = PackageVersion();
    const size_t first = text.find_first_not_of(kSpace);
    if (first == std::wstring::npos) return false;
    const size_t firstEnd = std::min(text.find_first_of(kSpace, first), text.size());
    const size_t second = text.find_first_not_of(kSpace, firstEnd);
    PackageVersion parsed;
    if (!ParseHexToken(text, first, firstEnd, &parsed.package)) return false;
    parsed.hasPackage = true;
    if (second != std::wstring::npos) {
        const size_t secondEnd = std::min(text.find_first_of(kSpace, second), text.size());
        if (text.find_first_not_of(kSpace, secondEnd) != std::wstring::npos ||
            !ParseHexToken(text, second, secondEnd, &parsed.directory)) {
            return false;
        }
        parsed.hasDirectory = true;
    }
    *version = parsed;
    return true;
}

}  // namespace qorv
