// Reading a whole text file as the stages compare and parse it.
#pragma once

#include <string>

namespace qorv {

// The longest version file and login answer taken, downloaded or read: each
// is a few lines, and one that grows without end (a body sent without a
// length) must neither fill the disk nor be read into memory.
constexpr unsigned kMaxTextFileBytes = 64 * 1024;

// The whole text of the file at path, read in text mode (TextMode.h) and
// converted from the thread's ANSI code page. Empty when nothing exists
// there, and when the path exists but cannot be read (a directory, a file
// another process holds open, one longer than kMaxTextFileBytes).
std::wstring ReadTextFile(const std::wstring& path);

}  // namespace qorv
