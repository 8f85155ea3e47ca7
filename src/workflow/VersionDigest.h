// The package version as a digest: the SHA-256 the kit writes as the version.
#pragma once

#include <array>
#include <string>

namespace qorv {

using Sha256Digest = std::array<unsigned char, 32>;

// True when text, with surrounding whitespace ignored, is exactly 64 hex
// digits (either case): the SHA-256 the kit writes as the version. Any other
// text is a deployer's own opaque version and names no digest.
bool ParseSha256Hex(const std::wstring& text, Sha256Digest* digest);

}  // namespace qorv
