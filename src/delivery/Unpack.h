// The unpacking loop shared by the shell and game client stages.
#pragma once

#include <vector>

#include "services/zip/PackageDirectory.h"

namespace qorv {

// True when the zip layer reads the same directory from archivePath as
// entries, the one planned with: as many entries, and each one marked in
// only (every one without it) with the same name, CRC-32 and sizes.
[[nodiscard]] bool ArchiveMatchesPlan(const wchar_t* archivePath,
                                      const std::vector<PackageEntry>& entries,
                                      const std::vector<bool>* only);

// Opens archivePath and extracts each entry in index order under baseDir,
// each replacing the installed file only once its new bytes proved whole (a
// failed entry leaves the old file as it was); then closes and deletes the
// archive and traces the end. Names the zip layer refuses are not written.
// Returns true only when the archive opened and every entry extracted.
// With only, just the entries it marks are extracted; the others
// are not even read (their bytes may be missing from the archive).
[[nodiscard]] bool UnpackPackage(const wchar_t* archivePath, const wchar_t* baseDir,
                                 const std::vector<bool>* only = nullptr);

}  // namespace qorv
