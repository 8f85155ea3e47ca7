// The client package checked against its version text before it is unpacked.
#pragma once

#include <string>

#include "workflow/VersionDigest.h"

namespace qorv {

// The SHA-256 of the whole file at path; false when it cannot be read and
// hashed. The system's hash on Windows, OpenSSL's libcrypto elsewhere.
bool Sha256OfFile(const std::wstring& path, Sha256Digest* digest);

// False only when versionText names a SHA-256 (VersionDigest.h) and the file
// at archivePath has another one, or cannot be read and hashed to tell.
bool PackageMatchesVersion(const std::wstring& archivePath, const std::wstring& versionText);

}  // namespace qorv
