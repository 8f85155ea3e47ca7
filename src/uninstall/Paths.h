// The paths the uninstaller works with: file names compared as Windows
// compares them, a folder's shape, where it may remove at all, and its own
// program and the names of its files outside the install directory.
#pragma once

#include <windows.h>

#include <string>

namespace qorv {

// Compares as Windows compares file names: ordinal, ignoring case.
bool SameName(const std::wstring& a, const std::wstring& b);

// True when path lies below folder, which ends in a backslash.
bool IsInside(const std::wstring& path, const std::wstring& folder);

std::wstring WithoutTrailingSlash(std::wstring path);

// The folder that holds directory, with its trailing backslash.
std::wstring ParentOf(const std::wstring& directory);

// The attributes of path itself when it is a junction or symbolic link (any
// reparse point): the link's own, never those of what it points to. 0 when
// it is no link or does not exist.
DWORD LinkAttributes(const std::wstring& path);

// The install directory is removed with everything in it, so it must be an
// absolute path strictly below the user's local application-data folder; a
// failed folder query would otherwise leave a path relative to wherever this
// process runs.
bool UnderLocalAppData(const std::wstring& installDir);

// The path of this program's image; empty when it cannot be read.
std::wstring OwnImage();

// A file name unique to this process, for the uninstaller's files outside
// the install directory.
std::wstring OwnFileName();

// The temporary folder; empty when it cannot be read.
std::wstring TempFolder();

// That name in the temporary folder; empty without one.
std::wstring TempName();

}  // namespace qorv
