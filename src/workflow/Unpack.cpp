#include "workflow/Unpack.h"

#include "Constants.h"
#include "services/zip/ZipExtract.h"
#include "workflow/FileOps.h"
#include "workflow/Trace.h"

namespace qorv {

namespace {

void ClearRecord(ZipEntryInfo& entry) {
    entry.index = 0;
    entry.name[0] = L'\0';
    entry.uncompressedSize = 0;
}

}  // namespace

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
        const std::wstring path = AppendPath(baseDir, entry.name);
        // A name that would leave the base directory is refused by the
        // extraction; its delete must not reach outside either. A file an
        // earlier run installed read-only would refuse both the delete and
        // the replacement on every run, so it is made writable first.
        if (!ZipTargetEscapesBase(entry.name)) {
            ClearReadOnly(path);
            DeleteOneFile(path);
        }
        TraceLog(kTraceDelete);
        TraceLogW(path.c_str());
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
