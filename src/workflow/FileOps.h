// The two file operations the unpack loop needs beside the zip layer, so the
// loop itself is the same code on every build.
#pragma once

#include <string>

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

}  // namespace qorv
