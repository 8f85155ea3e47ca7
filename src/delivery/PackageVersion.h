// The package version as the kit writes it: the package's SHA-256 and the
// SHA-256 of its central directory.
#pragma once

#include <string>

#include "services/Sha256.h"

namespace qorv {

// What a version text names. The kit writes both digests in hex, one space
// between them; an older kit wrote the package's alone.
struct PackageVersion {
    bool hasPackage = false;
    Sha256Digest package{};
    // Of the bytes from the first central-directory record to the file's end.
    bool hasDirectory = false;
    Sha256Digest directory{};
};

// True when text, surrounding whitespace ignored, is one token of 64 hex
// digits (either case), the package's digest, or two such tokens separated
// by whitespace, the package's and the directory's. Any other text is a
// deployer's own opaque version and names no digest.
bool ParsePackageVersion(const std::wstring& text, PackageVersion* version);

}  // namespace qorv
