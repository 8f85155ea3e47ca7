#include "delivery/PlanCheck.h"

#include "services/zip/ScopedZip.h"
#include "services/zip/ZipExtract.h"

namespace qorv {

bool ArchiveMatchesPlan(const wchar_t* archivePath, const std::vector<PackageEntry>& entries,
                        const std::vector<bool>* only) {
    ScopedZip archive(ZipOpen(archivePath));
    ZipEntryInfo count{};
    bool same = archive != nullptr && ZipGetEntry(archive.get(), -1, &count) == ZipOk &&
                static_cast<size_t>(count.index) == entries.size();
    for (size_t i = 0; same && i < entries.size(); ++i) {
        if (only && (i >= only->size() || !(*only)[i])) continue;
        ZipEntryCheck check;
        const PackageEntry& planned = entries[i];
        same = ZipGetEntryCheck(archive.get(), static_cast<int32_t>(i), &check) == ZipOk &&
               planned.name.compare(0, std::string::npos, check.storedName,
                                    check.storedNameLength) == 0 &&
               planned.crc == check.crc && planned.compressedSize == check.compressedSize &&
               planned.uncompressedSize == check.uncompressedSize;
    }
    return same;
}

}  // namespace qorv
