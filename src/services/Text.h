// Text: UTF-8 and UTF-16 on every build, the system's code pages on Windows,
// and splitting at a delimiter. Wide strings hold UTF-16 code units on every
// build (wchar_t is wider on Linux, but each element still holds one unit),
// so lengths and limits match the Windows build exactly.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qorv {

// Decodes UTF-8 into UTF-16 units; every invalid or truncated sequence
// becomes U+FFFD, as the system's UTF-8 conversion does without flags.
std::wstring Utf8ToUtf16(const char* bytes, size_t count);

inline std::wstring Utf8ToUtf16(const std::string& text) {
    return Utf8ToUtf16(text.data(), text.size());
}

// Encodes UTF-16 units as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const wchar_t* units, size_t count);

inline std::string Utf16ToUtf8(const std::wstring& text) {
    return Utf16ToUtf8(text.data(), text.size());
}

#ifdef _WIN32
// Bytes in codePage (CP_ACP: the system's ANSI code page) as UTF-16; empty
// when the system cannot convert them (a code page it lacks).
std::wstring CodePageToUtf16(const char* bytes, size_t count, unsigned codePage);

// UTF-16 as bytes in codePage; a character it lacks becomes its default.
std::string Utf16ToCodePage(const wchar_t* units, size_t count, unsigned codePage);
#endif

// Splits text at every occurrence of delimiter and appends the non-empty
// pieces, in order; an empty delimiter leaves the text whole.
void SplitString(const std::wstring& text, const std::wstring& delimiter,
                 std::vector<std::wstring>& pieces);

}  // namespace qorv
