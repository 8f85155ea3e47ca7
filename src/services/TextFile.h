// Reading a whole text file as the stages compare and parse it.
#pragma once

#include <string>

namespace qorv {

// The whole text of the file at path, read in text mode (TextMode.h) and
// converted from the thread's ANSI code page. Empty when nothing exists
// there, and when the path exists but cannot be read (a directory, a file
// another process holds open, one longer than kMaxTextFileBytes).
std::wstring ReadTextFile(const std::wstring& path);

}  // namespace qorv
