#include "services/zip/ZipExtract.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "services/FileSystem.h"
#include "services/zip/LittleEndian.h"
#include "services/zip/ZipArchiveFile.h"
#include "services/zip/ZipEntryRecord.h"
#include "services/zip/ZipExtractor.h"
#include "services/zip/ZipNames.h"
#include "services/zip/ZipTimes.h"
#include "services/zip/ZipWriteEntry.h"

namespace qorv {

namespace {

// The fixed part of a central directory record.
constexpr uint64_t kCentralRecordMinSize = 46;

ZipResult g_lastResult = ZipOk;

ZipResult Store(ZipResult result) {
    g_lastResult = result;
    return result;
}

ZipResult CheckHandle(ZipHandle handle) {
    if (handle == nullptr) return ZipErrArgs;
    if (handle->kind != kZipKindExtract) return ZipErrMode;
    return ZipOk;
}

// Sets the base directory, with a separator appended when it has none.
// A directory that does not fit leaves the base empty, so that relative
// targets fail rather than land somewhere else.
bool SetBaseDir(ZipExtractor& extractor, const std::wstring& directory) {
    const bool hasSeparator =
        !directory.empty() && (directory.back() == L'\\' || directory.back() == L'/');
    extractor.baseDir = hasSeparator ? directory : directory + L'\\';
    if (extractor.baseDir.size() <= kMaxPathChars) return true;
    extractor.baseDir.clear();
    return false;
}

// True for an archive that is nothing but an end-of-central-directory
// record with no entries (and its comment): the reader does not look for
// that record at offset 0, so it would take the archive for no zip at all.
bool IsEmptyArchive(const zlib_filefunc64_def& functions, const wchar_t* path) {
    constexpr uLong kRecordSize = 22;
    voidpf file = functions.zopen64_file(functions.opaque, path,
                                         ZLIB_FILEFUNC_MODE_READ | ZLIB_FILEFUNC_MODE_EXISTING);
    if (file == nullptr) return false;
    unsigned char record[kRecordSize] = {};
    const bool read =
        functions.zread_file(functions.opaque, file, record, kRecordSize) == kRecordSize;
    const bool atEnd =
        functions.zseek64_file(functions.opaque, file, 0, ZLIB_FILEFUNC_SEEK_END) == 0 &&
        functions.ztell64_file(functions.opaque, file) == kRecordSize + ZipRead16(record + 20);
    functions.zclose_file(functions.opaque, file);
    static const unsigned char kEmptyRecord[20] = {0x50, 0x4b, 0x05, 0x06};
    return read && atEnd && memcmp(record, kEmptyRecord, sizeof(kEmptyRecord)) == 0;
}

// The archive's size in bytes; 0 when it cannot be opened.
uint64_t ArchiveSize(const zlib_filefunc64_def& functions, const wchar_t* path) {
    voidpf file = functions.zopen64_file(functions.opaque, path,
                                         ZLIB_FILEFUNC_MODE_READ | ZLIB_FILEFUNC_MODE_EXISTING);
    if (file == nullptr) return 0;
    const bool atEnd =
        functions.zseek64_file(functions.opaque, file, 0, ZLIB_FILEFUNC_SEEK_END) == 0;
    const uint64_t size = atEnd ? functions.ztell64_file(functions.opaque, file) : 0;
    functions.zclose_file(functions.opaque, file);
    return size;
}

// The end record's entry count, but no more than the archive has room for:
// a claimed count of billions would keep an unpacking loop busy for ever.
int32_t BoundedEntryCount(uint64_t claimed, uint64_t archiveSize) {
    const uint64_t room = archiveSize / kCentralRecordMinSize;
    const uint64_t count = claimed < room ? claimed : room;
    return count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(count);
}

// Moves the reader to entry index: forward from where it is, or from the
// first entry when index lies behind it.
ZipResult WalkTo(ZipExtractor& extractor, int32_t index) {
    unzFile reader = extractor.reader.get();
    // The walk is the same every time: where it failed once it fails again.
    if (index >= extractor.reachableCount) return ZipErrRead;
    if (extractor.readerIndex < 0 || index < extractor.readerIndex) {
        extractor.readerIndex = -1;
        if (unzGoToFirstFile(reader) != UNZ_OK) {
            extractor.reachableCount = 0;
            return ZipErrRead;
        }
        extractor.readerIndex = 0;
    }
    while (extractor.readerIndex < index) {
        if (unzGoToNextFile(reader) != UNZ_OK) {
            extractor.reachableCount = extractor.readerIndex + 1;
            extractor.readerIndex = -1;
            return ZipErrRead;
        }
        ++extractor.readerIndex;
    }
    return ZipOk;
}

// Walks to entry index and makes its record the cached one.
ZipResult LoadRecord(ZipExtractor& extractor, int32_t index) {
    if (index == extractor.cachedIndex) return ZipOk;
    const ZipResult walked = WalkTo(extractor, index);
    if (walked != ZipOk) return walked;
    ZipEntryInfo record;
    ZipEntryFacts facts;
    const ZipResult read = ZipReadEntryRecord(extractor, index, &record, &facts);
    if (read != ZipOk) return read;
    extractor.cachedRecord = record;
    extractor.cachedFacts = facts;
    extractor.cachedIndex = index;
    return ZipOk;
}

}  // namespace

ZipResult ZipLastResult() {
    return g_lastResult;
}

ZipHandle ZipOpen(const wchar_t* archivePath) {
    std::unique_ptr<ZipExtractor> extractor(new (std::nothrow) ZipExtractor);
    if (!extractor) {
        Store(ZipErrFile);
        return nullptr;
    }
    extractor->archivePath = archivePath;
    const std::wstring current = CurrentDirectory();
    if (!current.empty()) SetBaseDir(*extractor, current);

    zlib_filefunc64_def functions;
    ZipFillArchiveFunctions(&functions);
    extractor->reader = ZipOpenReader(archivePath);
    unz_global_info64 global;
    if (extractor->reader && unzGetGlobalInfo64(extractor->reader.get(), &global) == UNZ_OK) {
        extractor->entryCount =
            BoundedEntryCount(global.number_entry, ArchiveSize(functions, archivePath));
    } else if (extractor->reader || !IsEmptyArchive(functions, archivePath)) {
        Store(ZipErrFile);
        return nullptr;
    }
    // An empty archive keeps no reader: no index is ever in range.
    // Opening leaves the reader on the first entry.
    extractor->readerIndex = extractor->entryCount > 0 ? 0 : -1;
    extractor->reachableCount = extractor->entryCount;

    ZipHandle handle = new (std::nothrow) ZipHandleData{kZipKindExtract, extractor.get()};
    if (handle == nullptr) {
        Store(ZipErrFile);
        return nullptr;
    }
    extractor.release();
    Store(ZipOk);
    return handle;
}

ZipResult ZipSetBaseDir(ZipHandle handle, const wchar_t* directory) {
    const ZipResult checked = CheckHandle(handle);
    if (checked != ZipOk) return Store(checked);
    return Store(SetBaseDir(*handle->extractor, directory) ? ZipOk : ZipErrFile);
}

ZipResult ZipGetEntry(ZipHandle handle, int32_t index, ZipEntryInfo* entry) {
    const ZipResult checked = CheckHandle(handle);
    if (checked != ZipOk) return Store(checked);
    ZipExtractor& extractor = *handle->extractor;
    if (index < -1 || index >= extractor.entryCount) return Store(ZipErrArgs);
    if (index == -1) {
        *entry = ZipEntryInfo{};
        entry->index = extractor.entryCount;
        return Store(ZipOk);
    }
    const ZipResult loaded = LoadRecord(extractor, index);
    if (loaded != ZipOk) return Store(loaded);
    *entry = extractor.cachedRecord;
    return Store(ZipOk);
}

namespace {

ZipResult ExtractEntry(ZipExtractor& extractor, int32_t index, const wchar_t* target,
                       const ZipPreparedData* prepared) {
    if (index < 0 || index >= extractor.entryCount) return ZipErrArgs;
    const ZipResult loaded = LoadRecord(extractor, index);
    if (loaded != ZipOk) return loaded;
    // The cached record may be served while the reader stands elsewhere.
    const ZipResult walked = WalkTo(extractor, index);
    if (walked != ZipOk) return walked;
    // From the first extraction on, the entries after this one are inflated
    // while this one is written.
    extractor.readAhead.Begin(extractor.archivePath.c_str(), extractor.reader.get(), index,
                              extractor.reachableCount);
    // Names from an archive must not lead out of the base directory.
    if (ZipTargetEscapesBase(target)) return ZipErrFile;
    // Some tools mark a folder entry by its trailing separator alone, with no
    // directory attribute; a file with an empty name can never be made, and
    // refusing the entry would leave every package from such a tool
    // incomplete forever.
    const size_t length = wcslen(target);
    const bool folderName =
        length > 0 && (target[length - 1] == L'\\' || target[length - 1] == L'/');
    if ((extractor.cachedRecord.attributes & kZipAttrDirectory) != 0 || folderName) {
        return ExtractDirectory(extractor, target);
    }
    return ExtractFile(extractor, index, target, prepared);
}

}  // namespace

ZipResult ZipExtractEntry(ZipHandle handle, int32_t index, const wchar_t* target) {
    const ZipResult checked = CheckHandle(handle);
    if (checked != ZipOk) return Store(checked);
    ZipExtractor& extractor = *handle->extractor;
    ZipPreparedData prepared;
    const bool ready = extractor.readAhead.Take(index, &prepared);
    const ZipResult result = ExtractEntry(extractor, index, target, ready ? &prepared : nullptr);
    if (ready) extractor.readAhead.Release();
    // After a failure the caller may go anywhere: the read-ahead is dropped.
    if (result != ZipOk) extractor.readAhead.End();
    return Store(result);
}

ZipResult ZipGetEntryCheck(ZipHandle handle, int32_t index, ZipEntryCheck* check) {
    const ZipResult checked = CheckHandle(handle);
    if (checked != ZipOk) return Store(checked);
    ZipExtractor& extractor = *handle->extractor;
    if (index < 0 || index >= extractor.entryCount) return Store(ZipErrArgs);
    const ZipResult walked = WalkTo(extractor, index);
    if (walked != ZipOk) return Store(walked);
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(extractor.reader.get(), &info, check->storedName,
                                sizeof(check->storedName), nullptr, 0, nullptr, 0) != UNZ_OK) {
        return Store(ZipErrRead);
    }
    if (info.size_filename >= sizeof(check->storedName)) return Store(ZipErrFile);
    check->storedNameLength = static_cast<uint32_t>(info.size_filename);
    check->crc = static_cast<uint32_t>(info.crc);
    check->compressedSize = info.compressed_size;
    check->uncompressedSize = info.uncompressed_size;
    return Store(ZipOk);
}

ZipResult ZipSetDurable(ZipHandle handle, bool durable) {
    const ZipResult checked = CheckHandle(handle);
    if (checked != ZipOk) return Store(checked);
    handle->extractor->durable = durable;
    return Store(ZipOk);
}

ZipResult ZipFinishFiles(ZipHandle handle, int32_t* index) {
    *index = -1;
    const ZipResult checked = CheckHandle(handle);
    if (checked != ZipOk) return Store(checked);
    ClosePool& closes = handle->extractor->closes;
    closes.Wait();
    ClosePool::Failure failure;
    if (!closes.TakeFailure(&failure)) return Store(ZipOk);
    *index = failure.tag;
    return Store(CommitResult(failure.result));
}

ZipResult ZipClose(ZipHandle handle) {
    const ZipResult checked = CheckHandle(handle);
    if (checked != ZipOk) return Store(checked);
    // A file whose close failed is a failure even when nobody asked.
    int32_t index = -1;
    const ZipResult finished = ZipFinishFiles(handle, &index);
    delete handle->extractor;
    delete handle;
    return Store(finished);
}

}  // namespace qorv
