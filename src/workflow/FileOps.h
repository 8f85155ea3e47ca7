// The file operations the unpack loop and the uninstaller's walk need beside
// the zip layer, so the loops themselves are the same code on every build.
#pragma once

#include <string>
#include <vector>

namespace qorv {

// directory joined with name in a MAX_PATH buffer, as PathAppendW does on
// Windows; when the result does not fit, directory is returned unchanged.
std::wstring AppendPath(const std::wstring& directory, const std::wstring& name);

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
