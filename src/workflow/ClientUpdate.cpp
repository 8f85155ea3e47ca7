#include "workflow/ClientUpdate.h"

#include <windows.h>

#include <winioctl.h>

#include <map>

#include "Constants.h"
#include "services/zip/ZipNames.h"
#include "workflow/FileHandle.h"
#include "workflow/FileOps.h"
#include "workflow/PackageDownload.h"
#include "workflow/Trace.h"
#include "workflow/Unpack.h"

namespace qorv {

namespace {

// A directory larger than this is no client's: the record is refused.
constexpr ULONGLONG kMaxDirectoryBytes = 64ull * 1024 * 1024;

bool FileSize(HANDLE file, ULONGLONG* size) {
    LARGE_INTEGER value{};
    if (!GetFileSizeEx(file, &value)) return false;
    *size = static_cast<ULONGLONG>(value.QuadPart);
    return true;
}

// length bytes of file from offset.
bool ReadAt(HANDLE file, ULONGLONG offset, ULONGLONG length, std::vector<unsigned char>* bytes) {
    if (length > kMaxDirectoryBytes) return false;
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return false;
    bytes->assign(static_cast<size_t>(length), 0);
    DWORD read = 0;
    if (length > 0 && !ReadFile(file, bytes->data(), static_cast<DWORD>(length), &read, nullptr)) {
        return false;
    }
    return read == length;
}

// The record bytes of an open package: from its directory's start to its end.
bool RecordOf(HANDLE file, std::vector<unsigned char>* record) {
    ULONGLONG size = 0;
    if (!FileSize(file, &size)) return false;
    const ULONGLONG tail = size < kPackageTailBytes ? size : kPackageTailBytes;
    std::vector<unsigned char> bytes;
    DirectoryLocation location;
    if (!ReadAt(file, size - tail, tail, &bytes) || !LocateDirectory(bytes, &location)) {
        return false;
    }
    // The directory must end where the end records begin: offsets counted
    // from elsewhere (bytes before the archive) would fetch the wrong data.
    if (location.offset + location.size != size - tail + location.endInBuffer) return false;
    return ReadAt(file, location.offset, size - location.offset, record);
}

// True when the installed file of entry is still there with its size.
bool InstalledAsRecorded(const std::wstring& clientDir, const PackageEntry& entry) {
    wchar_t name[kZipMaxPath] = {};
    if (!ZipDecodeName(entry.name.data(), entry.name.size(), name)) return false;
    ZipCleanName(name);
    if (ZipTargetEscapesBase(name)) return false;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(AppendPath(clientDir, name).c_str(), GetFileExInfoStandard, &data)) {
        return false;
    }
    const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool folderEntry = !entry.name.empty() && entry.name.back() == '/';
    if (folder || folderEntry) return folder && folderEntry;
    const ULONGLONG size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return size == entry.uncompressedSize;
}

// Fills the part file; false at the first step that rules the update out.
bool FetchInto(const wchar_t* url, HANDLE file, const std::vector<PackageEntry>& installed,
               const std::wstring& clientDir, IBindStatusCallback* callback,
               std::vector<PackageEntry>* entries, std::vector<bool>* changed) {
    RangeRequest tail;
    tail.tail = true;
    tail.length = kPackageTailBytes;
    tail.progressTotal = static_cast<ULONG>(kPackageTailBytes);
    RangeAnswer answer;
    if (DownloadRange(url, tail, file, callback, &answer) != S_OK) return false;
    ULONGLONG fetched = answer.length;
    const ULONGLONG tailStart = answer.offset;

    std::vector<unsigned char> bytes;
    DirectoryLocation location;
    if (!ReadAt(file, tailStart, answer.total - tailStart, &bytes) ||
        !LocateDirectory(bytes, &location) ||
        location.offset + location.size != tailStart + location.endInBuffer) {
        return false;
    }
    if (location.offset < tailStart) {
        // Judged before it is fetched: a tail may claim any size.
        if (tailStart - location.offset > kMaxDirectoryBytes) return false;
        RangeRequest directory;
        directory.offset = location.offset;
        directory.length = tailStart - location.offset;
        directory.progressTotal = static_cast<ULONG>(directory.length);
        if (DownloadRange(url, directory, file, callback, &answer) != S_OK) return false;
        fetched += directory.length;
    }
    if (!RecordOf(file, &bytes) || !ReadDirectory(bytes, entries)) return false;

    std::map<std::string, const PackageEntry*> byName;
    for (const PackageEntry& entry : installed) byName[entry.name] = &entry;
    changed->assign(entries->size(), true);
    unsigned long changedCount = 0;
    for (size_t i = 0; i < entries->size(); ++i) {
        const PackageEntry& entry = (*entries)[i];
        const auto found = byName.find(entry.name);
        (*changed)[i] = found == byName.end() || !SameEntry(*found->second, entry) ||
                        !InstalledAsRecorded(clientDir, entry);
        if ((*changed)[i]) ++changedCount;
    }
    // A new version in which nothing differs is most likely the old package
    // still served (a cache, a publish out of order): the whole download
    // lets its digest judge it.
    if (changedCount == 0) return false;
    std::vector<ByteRange> spans;
    if (!EntrySpans(*entries, *changed, location.offset, &spans)) return false;
    const std::vector<ByteRange> ranges = PlanRanges(spans, kMaxEntryRequests);
    if (WholeDownloadIsCheaper(ranges, answer.total)) return false;

    const ULONG planned = static_cast<ULONG>(RangeBytes(ranges));
    ULONG done = 0;
    for (const ByteRange& range : ranges) {
        RangeRequest request;
        request.offset = range.offset;
        request.length = range.length;
        request.progressBase = done;
        request.progressTotal = planned;
        if (DownloadRange(url, request, file, callback, &answer) != S_OK) return false;
        done += static_cast<ULONG>(range.length);
    }
    fetched += planned;
    TraceLog(kTraceIncremental, changedCount, static_cast<unsigned long>(entries->size()),
             static_cast<unsigned long>(fetched), static_cast<unsigned long>(answer.total));
    return true;
}

}  // namespace

bool ReadInstallRecord(const std::wstring& recordPath, std::vector<PackageEntry>* entries) {
    FileHandle file(CreateFileW(recordPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ULONGLONG size = 0;
    std::vector<unsigned char> bytes;
    return file.valid() && FileSize(file.get(), &size) && ReadAt(file.get(), 0, size, &bytes) &&
           ReadDirectory(bytes, entries);
}

std::vector<unsigned char> PackageRecord(const std::wstring& archivePath) {
    FileHandle file(CreateFileW(archivePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<unsigned char> record;
    if (!file.valid() || !RecordOf(file.get(), &record)) record.clear();
    return record;
}

bool KeepInstallRecord(const std::vector<unsigned char>& record, const std::wstring& newPath,
                       const std::wstring& recordPath) {
    bool written = false;
    {
        FileHandle file(CreateFileW(newPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD count = 0;
        written = file.valid() &&
                  WriteFile(file.get(), record.data(), static_cast<DWORD>(record.size()), &count,
                            nullptr) &&
                  count == record.size() && FlushFileBuffers(file.get());
    }  // closed here: it is moved or deleted next
    if (written && MoveFileExW(newPath.c_str(), recordPath.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    DeleteOneFile(newPath);
    return false;
}

bool FetchChangedEntries(const wchar_t* url, const std::vector<PackageEntry>& installed,
                         const std::wstring& clientDir, const std::wstring& archivePath,
                         IBindStatusCallback* callback, std::vector<bool>* changed) {
    const std::wstring partPath = archivePath + kDownloadSuffix;
    std::vector<PackageEntry> entries;
    bool fetched = false;
    {
        FileHandle file(CreateFileW(partPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) return false;
        // Sparse, so the entries not fetched take no room; where the file
        // system has no sparse files the copy is only larger on disk.
        DWORD returned = 0;
        DeviceIoControl(file.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
        fetched = FetchInto(url, file.get(), installed, clientDir, callback, &entries, changed);
    }  // closed here: read once more, then moved or deleted
    // The plan's entry i must be the entry i the unpack extracts: an archive
    // may hold directories that the planner and the zip layer read apart.
    if (fetched && ArchiveMatchesPlan(partPath.c_str(), entries, nullptr) &&
        MoveFileExW(partPath.c_str(), archivePath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return true;
    }
    DeleteOneFile(partPath);
    return false;
}

}  // namespace qorv
