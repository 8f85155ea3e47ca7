#include "workflow/PackageDigest.h"

namespace qorv {

bool PackageMatchesVersion(const std::wstring& archivePath, const std::wstring& versionText) {
    Sha256Digest expected{};
    if (!ParseSha256Hex(versionText, &expected)) return true;
    Sha256Digest actual{};
    return Sha256OfFile(archivePath, &actual) && actual == expected;
}

}  // namespace qorv
