#include "workflow/PackageDigest.h"

#include "delivery/LocalFile.h"
#include "workflow/VersionDigest.h"

namespace qorv {

bool PackageMatchesVersion(const std::wstring& archivePath, const std::wstring& versionText) {
    PackageVersion version;
    if (!ParsePackageVersion(versionText, &version)) return true;
    Sha256Digest actual{};
    return Sha256OfFile(archivePath, &actual) && actual == version.package;
}

}  // namespace qorv
