// The check that the zip layer reads the directory a delivery planned with.
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

}  // namespace qorv
