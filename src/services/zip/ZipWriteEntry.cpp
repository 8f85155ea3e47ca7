#include "services/zip/ZipWriteEntry.h"

#include <chrono>
#include <memory>
#include <new>

#include "InstallNames.h"
#include "services/FileSystem.h"
#include "services/TargetFile.h"
#include "services/zip/ZipEncryptedEntry.h"
#include "services/zip/ZipNames.h"
#include "services/zip/ZipPaths.h"
#include "services/zip/ZipTimes.h"

namespace qorv {

namespace {

// The record's times on the written file. A time the file system refuses
// is no failure of the entry: its bytes are whole.
void SetEntryTimes(TargetFile& file, const ZipEntryInfo& record) {
    file.SetTimes(ZipFileTimeToUint64(record.creationTime), ZipFileTimeToUint64(record.accessTime),
                  ZipFileTimeToUint64(record.writeTime));
}

// Copies the current entry's data into file, then sets its times once the
// whole entry was written and its CRC-32 found right. Data the read-ahead
// prepared was found right already and is only written.
ZipResult WriteEntryData(ZipExtractor& extractor, TargetFile& file,
                         const ZipPreparedData* prepared) {
    unzFile reader = extractor.reader.get();
    const ZipEntryInfo& record = extractor.cachedRecord;
    if (prepared != nullptr) {
        if ((prepared->firstSize > 0 && !file.Write(prepared->first, prepared->firstSize)) ||
            (prepared->secondSize > 0 && !file.Write(prepared->second, prepared->secondSize))) {
            return ZipErrWrite;
        }
        SetEntryTimes(file, record);
        return ZipOk;
    }
    if (!extractor.outputBuffer) {
        extractor.outputBuffer.reset(new (std::nothrow) unsigned char[kZipOutputBufferSize]);
        if (!extractor.outputBuffer) return ZipErrInflate;
    }
    unsigned char* const buffer = extractor.outputBuffer.get();
    if ((extractor.cachedFacts.flags & kZipFlagEncrypted) != 0) {
        const ZipResult result =
            ZipWriteEncryptedEntry(reader, extractor.cachedFacts, buffer, file);
        if (result == ZipOk) {
            SetEntryTimes(file, record);
        }
        return result;
    }
    if (unzOpenCurrentFile(reader) != UNZ_OK) {
        unzCloseCurrentFile(reader);
        return ZipErrInflate;
    }
    for (;;) {
        const int read = unzReadCurrentFile(reader, buffer, kZipOutputBufferSize);
        if (read > 0) {
            if (!file.Write(buffer, static_cast<uint32_t>(read))) {
                unzCloseCurrentFile(reader);
                return ZipErrWrite;
            }
            continue;
        }
        const bool atEnd = read == 0 && unzeof(reader) == 1;
        // Closing the data checks the CRC-32: damaged data is no success.
        const int closed = unzCloseCurrentFile(reader);
        if (!atEnd || closed != UNZ_OK) return ZipErrInflate;
        SetEntryTimes(file, record);
        return ZipOk;
    }
}

}  // namespace

ZipResult CommitResult(TargetFile::Committed committed) {
    switch (committed) {
        case TargetFile::Committed::kOk:
            return ZipOk;
        case TargetFile::Committed::kNotWritten:
            return ZipErrWrite;
        case TargetFile::Committed::kNotMoved:
            break;
    }
    return ZipErrFile;
}

ZipResult ExtractDirectory(const ZipExtractor& extractor, const wchar_t* target) {
    const bool absolute = ZipIsAbsolutePath(target);
    // Without a base a relative target would land in the current folder.
    if (!absolute && extractor.baseDir.empty()) return ZipErrFile;
    const std::wstring path = AppendPath(absolute ? L"" : extractor.baseDir, target);
    if (path.empty()) return ZipErrFile;
    return MakeDirectories(path) == S_OK ? ZipOk : ZipErrFile;
}

ZipResult ExtractFile(ZipExtractor& extractor, int32_t index, const wchar_t* target,
                      const ZipPreparedData* prepared) {
    const wchar_t* fileName = nullptr;
    const std::wstring directory = ZipSplitTarget(target, &fileName);
    // An absolute target's own folder takes the place of the base.
    std::wstring base;
    if (!ZipIsAbsolutePath(directory.c_str())) {
        // "C:x.txt" has no directory part and goes under the base, where its
        // ":" would name a stream of a file "C".
        if (extractor.baseDir.empty() || wcschr(target, L':') != nullptr) return ZipErrFile;
        base = extractor.baseDir;
    }
    const std::wstring path = AppendPath(base, target);
    // An installed file is replaced only by bytes that proved whole; until
    // then they wait in a file of their own beside the base directory's
    // entries, on the same volume.
    const std::wstring replacement =
        AppendPath(base.empty() ? directory : base, kUnpackReplacementFile);
    if (path.empty() || replacement.empty()) return ZipErrFile;
    // Most entries go into a folder made for an earlier one: the folders are
    // made only when the file cannot be created without them, which saves a
    // look at every level for every file.
    std::unique_ptr<TargetFile> file(new (std::nothrow) TargetFile);
    if (!file) return ZipErrFile;
    const uint32_t attributes = extractor.cachedRecord.attributes;
    TargetFile::Opened opened = file->Open(path, attributes);
    if (opened == TargetFile::Opened::kFolderMissing) {
        const std::wstring folder = AppendPath(base, directory);
        if (!folder.empty() && MakeDirectories(folder) == S_OK) {
            opened = file->Open(path, attributes);
        }
    }
    // The file there may be one of this archive's still being closed, and
    // so may the replacement file: both are done with first. Replacing is
    // the rare road (staged updates write new files), so it stays on this
    // thread, and the file is in place when this call returns.
    const bool replacing = opened == TargetFile::Opened::kExists;
    if (replacing) {
        extractor.closes.Wait();
        opened = file->OpenReplacement(replacement);
    }
    if (opened != TargetFile::Opened::kOk) return ZipErrFile;
    const ZipResult written = WriteEntryData(extractor, *file, prepared);
    if (written != ZipOk) return written;
    if (replacing) return CommitResult(file->Commit(extractor.durable));
    // Once a close proved slow (a virus scanner's scan, a flush to a disk),
    // new files' closes overlap with the next entries, and ZipFinishFiles
    // reports how they ended. Before that they stay here: handing a close
    // that takes microseconds to another thread costs more than it saves.
    if (extractor.slowCloses) {
        extractor.closes.Commit(std::move(file), extractor.durable, index);
        return ZipOk;
    }
    const auto began = std::chrono::steady_clock::now();
    const TargetFile::Committed committed = file->Commit(extractor.durable);
    extractor.slowCloses = std::chrono::steady_clock::now() - began >= kZipSlowClose;
    return CommitResult(committed);
}

}  // namespace qorv
