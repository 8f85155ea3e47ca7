// UTF-8 and UTF-16 conversions for the portable code. Wide strings hold UTF-16
// code units on every build (wchar_t is wider on Linux, but each element still
// holds one unit), so lengths and limits match the Windows build exactly.
#pragma once

#include <cstddef>
#include <string>

namespace qorv {

// Decodes UTF-8 into UTF-16 units; every invalid or truncated sequence
// becomes U+FFFD, as the system's UTF-8 conversion does without flags.
std::wstring Utf8ToUtf16(const char* bytes, size_t count);

// Encodes UTF-16 units as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const wchar_t* units, size_t count);

inline std::string Utf16ToUtf8(const std::wstring& text) {
    return Utf16ToUtf8(text.data(), text.size());
}

}  // namespace qorv
