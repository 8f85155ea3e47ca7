// The unpacking loop shared by the shell and game client stages.
#pragma once

#include <vector>

namespace qorv {

// Opens archivePath, and for each entry in index order deletes the old file
// at baseDir + name right before extracting the entry there (one entry at a
// time, never all at once); then closes and deletes the archive and traces
// the end. Names the zip layer refuses are neither deleted nor written.
// Returns true only when the archive opened and every entry extracted.
// With only, just the entries it marks are deleted and extracted; the others
// are not even read (their bytes may be missing from the archive).
bool UnpackPackage(const wchar_t* archivePath, const wchar_t* baseDir,
                   const std::vector<bool>* only = nullptr);

}  // namespace qorv
