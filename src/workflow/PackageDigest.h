// The client package checked against its version text before it is unpacked.
#pragma once

#include <array>
#include <string>

namespace qorv {

using Sha256Digest = std::array<unsigned char, 32>;

// True when text, with surrounding whitespace ignored, is exactly 64 hex
// digits (either case): the SHA-256 the kit writes as the version. Any other
// text is a deployer's own opaque version and names no digest.
bool ParseSha256Hex(const std::wstring& text, Sha256Digest* digest);

#ifdef _WIN32
// False only when versionText names a SHA-256 and the file at archivePath has
// another one, or cannot be read and hashed to tell.
bool PackageMatchesVersion(const std::wstring& archivePath, const std::wstring& versionText);
#endif

}  // namespace qorv
