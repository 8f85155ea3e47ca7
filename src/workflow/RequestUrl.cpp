#include "workflow/RequestUrl.h"

#include <cwchar>

#include "InstallNames.h"
#include "TraceTexts.h"
#include "services/Text.h"

namespace qorv {

namespace {

std::wstring PercentEncode(const std::wstring& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::wstring out;
    for (unsigned char c : Utf16ToUtf8(text)) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved) {
            out += static_cast<wchar_t>(c);
        } else {
            out += L'%';
            out += static_cast<wchar_t>(kHex[c >> 4]);
            out += static_cast<wchar_t>(kHex[c & 15]);
        }
    }
    return out;
}

}  // namespace

std::wstring PackageUrl(const std::wstring& baseUrl, const wchar_t* remotePath,
                        uint32_t tickCount) {
    wchar_t suffix[32] = {};
    swprintf(suffix, sizeof suffix / sizeof suffix[0], kCacheBusterFormat,
             static_cast<int32_t>(tickCount));
    return baseUrl + remotePath + suffix;
}

std::wstring LoginUrl(const std::wstring& accountBaseUrl, const std::wstring& token,
                      const std::wstring& platform) {
    return accountBaseUrl + kLoginPath + PercentEncode(token) + kLoginPlatformParam +
           PercentEncode(platform);
}

std::wstring TracedLoginUrl(const std::wstring& accountBaseUrl, const std::wstring& platform) {
    return accountBaseUrl + kLoginPath + kTraceTokenMark + kLoginPlatformParam +
           PercentEncode(platform);
}

}  // namespace qorv
