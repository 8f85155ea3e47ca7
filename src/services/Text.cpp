#include "services/Text.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdint>

namespace qorv {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUnits(std::wstring* out, char32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out->push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
        out->push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out->push_back(static_cast<wchar_t>(cp));
    }
}

void AppendUtf8(std::string* out, char32_t cp) {
    if (cp < 0x80) {
        out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::wstring Utf8ToUtf16(const char* bytes, size_t count) {
    const auto* s = reinterpret_cast<const uint8_t*>(bytes);
    std::wstring out;
    out.reserve(count);
    size_t i = 0;
    while (i < count) {
        const uint8_t lead = s[i];
        if (lead < 0x80) {
            out.push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        }
        size_t need;
        char32_t cp;
        char32_t min;
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 1, cp = lead & 0x1F, min = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need = 2, cp = lead & 0x0F, min = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need = 3, cp = lead & 0x07, min = 0x10000;
        } else {
            out.push_back(static_cast<wchar_t>(kReplacement));
            ++i;
            continue;
        }
        size_t j = 1;
        for (; j <= need && i + j < count && (s[i + j] & 0xC0) == 0x80; ++j) {
            cp = (cp << 6) | (s[i + j] & 0x3F);
        }
        if (j <= need || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            // A broken sequence yields one replacement; decoding resumes at
            // the first byte that did not continue it.
            out.push_back(static_cast<wchar_t>(kReplacement));
            i += (j <= need) ? j : need + 1;
            continue;
        }
        AppendUnits(&out, cp);
        i += need + 1;
    }
    return out;
}

std::string Utf16ToUtf8(const wchar_t* units, size_t count) {
    std::string out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        char32_t u = static_cast<char32_t>(units[i]) & 0xFFFF;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
            const char32_t low = static_cast<char32_t>(units[i + 1]) & 0xFFFF;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(&out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) u = kReplacement;
        AppendUtf8(&out, u);
    }
    return out;
}

#ifdef _WIN32
std::wstring CodePageToUtf16(const char* bytes, size_t count, unsigned codePage) {
    if (count == 0) return std::wstring();
    const int length = static_cast<int>(count);
    const int units = MultiByteToWideChar(codePage, 0, bytes, length, nullptr, 0);
    if (units <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(units), L'\0');
    if (MultiByteToWideChar(codePage, 0, bytes, length, &wide[0], units) != units) {
        return std::wstring();
    }
    return wide;
}

std::string Utf16ToCodePage(const wchar_t* units, size_t count, unsigned codePage) {
    if (count == 0) return std::string();
    const int length = static_cast<int>(count);
    const int bytes = WideCharToMultiByte(codePage, 0, units, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::string();
    std::string narrow(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(codePage, 0, units, length, &narrow[0], bytes, nullptr, nullptr);
    return narrow;
}
#endif

void SplitString(const std::wstring& text, const std::wstring& delimiter,
                 std::vector<std::wstring>& pieces) {
    std::wstring rest = text;
    if (!delimiter.empty()) {
        for (size_t at = rest.find(delimiter); at != std::wstring::npos;
             at = rest.find(delimiter)) {
            if (at > 0) pieces.push_back(rest.substr(0, at));
            rest.erase(0, at + delimiter.size());
        }
    }
    if (!rest.empty()) pieces.push_back(rest);
}

}  // namespace qorv
