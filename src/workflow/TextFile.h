// Whole-file text reading with the C runtime's text-mode semantics.
#pragma once

#include <string>

namespace qorv {

// What a text-mode read returns for raw file bytes: every CR LF becomes LF
// and the data ends at the first Ctrl-Z (0x1A).
std::string TextModeBytes(const std::string& raw);

#ifdef _WIN32
// The whole text of the file at path, converted from the thread's ANSI code
// page. Empty when nothing exists there, and when the path exists but cannot
// be read (a directory, a file another process holds open).
std::wstring ReadTextFile(const std::wstring& path);
#endif

}  // namespace qorv
