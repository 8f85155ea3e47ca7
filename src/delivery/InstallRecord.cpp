#include "delivery/InstallRecord.h"

#include "Constants.h"
#include "services/FileSystem.h"
#include "services/zip/ZipEntryRecord.h"
#include "services/zip/ZipNames.h"
#include "services/zip/ZipTimes.h"

namespace qorv {

namespace {

constexpr uint64_t kHour = 36000000000ull;  // in 100-ns intervals

// The last-write time extraction gives entry: its DOS stamp, or the "UT"
// modification time of its extra field.
uint64_t WriteTimeOf(const PackageEntry& entry, bool* fromDosStamp) {
    ZipEntryInfo record{};
    record.writeTime = ZipDosTimeToFileTime(entry.dosDateTime);
    const uint64_t dos = ZipFileTimeToUint64(record.writeTime);
    ZipApplyExtendedTimes(reinterpret_cast<const unsigned char*>(entry.extra.data()),
                          entry.extra.size(), &record);
    const uint64_t time = ZipFileTimeToUint64(record.writeTime);
    *fromDosStamp = time == dos;
    return time;
}

bool SameWriteTime(const PackageEntry& entry, uint64_t written) {
    bool fromDosStamp = false;
    const uint64_t expected = WriteTimeOf(entry, &fromDosStamp);
    if (written == expected) return true;
    // A DOS stamp is local time, turned into UTC with the offset in force
    // when it was extracted: a change to or from summer time since moves it
    // by an hour, which is no change of the file.
    return fromDosStamp && (written == expected + kHour || written + kHour == expected);
}

}  // namespace

bool ReadRecord(const std::wstring& path, std::vector<PackageEntry>* entries) {
    std::vector<unsigned char> bytes;
    return ReadWholeFile(path, kMaxDirectoryBytes + kPackageTailBytes, &bytes) &&
           ReadDirectory(bytes, entries);
}

bool RecordOfPackage(LocalFile& file, std::vector<unsigned char>* record) {
    uint64_t size = 0;
    if (file.Size(&size) != S_OK) return false;
    const uint64_t tail = size < kPackageTailBytes ? size : kPackageTailBytes;
    std::vector<unsigned char> bytes(static_cast<size_t>(tail));
    DirectoryLocation location;
    if (file.ReadAt(size - tail, bytes.data(), bytes.size()) != S_OK ||
        !LocateDirectory(bytes, &location) ||
        location.offset + location.size != size - tail + location.endInBuffer ||
        size - location.offset > kMaxDirectoryBytes + kPackageTailBytes) {
        return false;
    }
    record->assign(static_cast<size_t>(size - location.offset), 0);
    return file.ReadAt(location.offset, record->data(), record->size()) == S_OK;
}

bool KeepRecord(const std::vector<unsigned char>& record, const std::wstring& path) {
    return KeepFile(record, path + kNewFileSuffix, path);
}

bool IsInstalled(const std::wstring& targetDir, const PackageEntry& entry, InstalledCheck check) {
    wchar_t name[kZipMaxPath] = {};
    if (!ZipDecodeName(entry.name.data(), entry.name.size(), name)) return false;
    ZipCleanName(name);
    if (ZipTargetEscapesBase(name)) return false;
    const std::wstring path = AppendPath(targetDir, name);
    if (path.empty()) return false;
    const FileFacts facts = ReadFileFacts(path);
    // A folder by its attribute or, as some tools mark it, by its name.
    const bool folderEntry =
        (ZipMapAttributes(entry.externalAttributes, entry.versionMadeBy) & kZipAttrDirectory) !=
            0 ||
        (!entry.name.empty() && (entry.name.back() == '/' || entry.name.back() == '\\'));
    if (!facts.exists || facts.directory || folderEntry) {
        return facts.exists && facts.directory && folderEntry;
    }
    switch (check) {
        case InstalledCheck::kExists:
            return true;
        case InstalledCheck::kSize:
            return facts.size == entry.uncompressedSize;
        case InstalledCheck::kExact:
            return facts.size == entry.uncompressedSize && SameWriteTime(entry, facts.writeTime);
    }
    return false;
}

bool RecordedFileMissing(const std::wstring& recordPath, const std::wstring& targetDir) {
    std::vector<PackageEntry> entries;
    if (!ReadRecord(recordPath, &entries)) return false;
    for (const PackageEntry& entry : entries) {
        if (!IsInstalled(targetDir, entry, InstalledCheck::kExists)) return true;
    }
    return false;
}

}  // namespace qorv
