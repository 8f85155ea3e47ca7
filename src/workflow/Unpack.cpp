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

bool UnpackPackage(const wchar_t* archivePath, const wchar_t* baseDir) {
    ZipHandle archive = ZipOpen(archivePath);
    bool complete = archive != nullptr;
    ZipSetBaseDir(archive, baseDir);

    ZipEntryInfo entry{};
    ClearRecord(entry);
    ZipGetEntry(archive, -1, &entry);
    const int32_t count = entry.index;
    TraceLog(kTraceLineEnd);

    for (int32_t i = 0; i < count; ++i) {
        ClearRecord(entry);
        ZipGetEntry(archive, i, &entry);
        const std::wstring path = AppendPath(baseDir, entry.name);
        // A name that would leave the base directory is refused by the
        // extraction; its delete must not reach outside either.
        if (!ZipTargetEscapesBase(entry.name)) DeleteOneFile(path);
        TraceLog(kTraceDelete);
        TraceLogW(path.c_str());
        TraceLog(kTraceLineEnd);
        if (ZipExtractEntry(archive, i, entry.name) != ZipOk) complete = false;
        TraceLogW(entry.name);
        TraceLog(kTraceLineEnd);
    }

    ZipClose(archive);
    DeleteOneFile(archivePath);
    TraceLog(kTraceUnpackDone);
    return complete;
}

}  // namespace qorv
