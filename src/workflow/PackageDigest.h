// The client package checked against its version text before it is unpacked.
#pragma once

#include <string>

namespace qorv {

// False only when versionText names the package's SHA-256 (VersionDigest.h)
// and the file at archivePath has another one, or cannot be read and hashed
// to tell.
bool PackageMatchesVersion(const std::wstring& archivePath, const std::wstring& versionText);

}  // namespace qorv
