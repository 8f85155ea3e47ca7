#include "workflow/VersionDigest.h"

namespace qorv {

namespace {

int HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

}  // namespace

bool ParseSha256Hex(const std::wstring& text, Sha256Digest* digest) {
    constexpr wchar_t kSpace[] = L" \t\r\n\v\f";
    const size_t first = text.find_first_not_of(kSpace);
    if (first == std::wstring::npos) return false;
    const size_t last = text.find_last_not_of(kSpace);
    if (last - first + 1 != digest->size() * 2) return false;
    for (size_t i = 0; i < digest->size(); ++i) {
        const int high = HexValue(text[first + 2 * i]);
        const int low = HexValue(text[first + 2 * i + 1]);
        if (high < 0 || low < 0) return false;
        (*digest)[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return true;
}

}  // namespace qorv
