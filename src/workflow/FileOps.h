// The file operations the unpack loop and the uninstaller's walk need beside
// the zip layer, so the loops themselves are the same code on every build.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qorv {

// The longest path the installer builds, terminator excluded (MAX_PATH - 1).
constexpr size_t kMaxPathChars = 259;

// directory joined with name, literally: a "\" between them unless directory
// is empty or already ends in a separator. name is never interpreted, so a
// component such as "..x" or "..." stays an ordinary name (the shell's path
// functions would read "..x" as the parent folder). Empty when the result
// would need more than kMaxPathChars characters; every caller must treat
// that as "no such path", never as the current folder.
std::wstring AppendPath(const std::wstring& directory, const std::wstring& name);

// True when something (a file or a directory) is at path.
bool PathExists(const std::wstring& path);

// Deletes one file (never a directory); false when nothing was deleted. A
// read-only file is not deleted, on every build (the POSIX build takes a
// missing owner write bit for the read-only attribute).
bool DeleteOneFile(const std::wstring& path);

// Clears the read-only attribute of an existing file; folders and missing
// paths are left alone.
void ClearReadOnly(const std::wstring& path);
// One entry of a directory listing. A link is a junction or symbolic link
// (any reparse point on Windows): never a place to descend into.
struct DirEntry {
    std::wstring name;
    bool directory = false;
    bool link = false;
};

// The entries of directory without "." and ".."; false when it cannot be listed.
bool ListDirectory(const std::wstring& directory, std::vector<DirEntry>* entries);

// Removes an empty directory, or a link itself (never what it points to).
bool RemoveDirectoryOrLink(const std::wstring& path, const DirEntry& entry);

}  // namespace qorv
