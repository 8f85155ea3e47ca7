#include "delivery/Unpack.h"

#include "Constants.h"
#include "services/FileSystem.h"
#include "services/zip/ZipExtract.h"
#include "services/Trace.h"

namespace qorv {

namespace {

void ClearRecord(ZipEntryInfo& entry) {
    entry.index = 0;
    entry.name[0] = L'\0';
    entry.uncompressedSize = 0;
}

}  // namespace

bool ArchiveMatchesPlan(const wchar_t* archivePath, const std::vector<PackageEntry>& entries,
                        const std::vector<bool>* only) {
    ZipHandle archive = ZipOpen(archivePath);
    ZipEntryInfo count{};
    bool same = archive != nullptr && ZipGetEntry(archive, -1, &count) == ZipOk &&
                static_cast<size_t>(count.index) == entries.size();
    for (size_t i = 0; same && i < entries.size(); ++i) {
        if (only && (i >= only->size() || !(*only)[i])) continue;
        ZipEntryCheck check;
        const PackageEntry& planned = entries[i];
        same = ZipGetEntryCheck(archive, static_cast<int32_t>(i), &check) == ZipOk &&
               planned.name.compare(0, std::string::npos, check.storedName,
                                    check.storedNameLength) == 0 &&
               planned.crc == check.crc && planned.compressedSize == check.compressedSize &&
               planned.uncompressedSize == check.uncompressedSize;
    }
    ZipClose(archive);
    return same;
}

bool UnpackPackage(const wchar_t* archivePath, const wchar_t* baseDir,
                   const std::vector<bool>* only) {
    ZipHandle archive = ZipOpen(archivePath);
    bool complete = archive != nullptr;
    ZipSetBaseDir(archive, baseDir);

    ZipEntryInfo entry{};
    ClearRecord(entry);
    ZipGetEntry(archive, -1, &entry);
    const int32_t count = entry.index;
    TraceLog(kTraceLineEnd);

    for (int32_t i = 0; i < count; ++i) {
        if (only && (static_cast<size_t>(i) >= only->size() || !(*only)[i])) continue;
        ClearRecord(entry);
        ZipGetEntry(archive, i, &entry);
        // The installed file goes only once the entry's new bytes proved
        // whole: the extraction replaces it then, and a failed entry leaves it.
        TraceLog(kTraceDelete);
        TraceLogW(AppendPath(baseDir, entry.name).c_str());
        TraceLog(kTraceLineEnd);
        const ZipResult result = ZipExtractEntry(archive, i, entry.name);
        TraceLogW(entry.name);
        TraceLog(kTraceLineEnd);
        if (result != ZipOk) {
            // Support's only clue why an update never commits.
            complete = false;
            TraceLog(kTraceUnpackFailed, static_cast<unsigned>(result));
            TraceLogW(entry.name);
            TraceLog(kTraceLineEnd);
        }
    }

    ZipClose(archive);
    DeleteOneFile(archivePath);
    TraceLog(kTraceUnpackDone);
    return complete;
}

}  // namespace qorv
