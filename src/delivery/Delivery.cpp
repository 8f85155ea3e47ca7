#include "delivery/Delivery.h"

#include <map>
#include <vector>

#include "Constants.h"
#include "delivery/Download.h"
#include "delivery/InstallRecord.h"
#include "delivery/RangePlan.h"
#include "delivery/Unpack.h"
#include "services/FileSystem.h"

namespace qorv {

namespace {

// Room for a directory that grew, and an end record's comment, beyond the
// record's own size when the package's tail is asked for first.
constexpr uint64_t kTailMargin = 4 * 1024;

// A package's sparse copy with what a delivery by ranges found in it.
struct RangedCopy {
    std::vector<PackageEntry> entries;
    std::vector<bool> wanted;
    std::vector<unsigned char> record;
    FetchSummary summary;
};

bool Wanted(const PackageDelivery& delivery, const PackageEntry* recorded,
            const PackageEntry& entry) {
    const bool asRecorded = recorded != nullptr && SameEntry(*recorded, entry);
    switch (delivery.rule) {
        case RepairRule::kReplaceChanged:
            return !asRecorded || !IsInstalled(delivery.targetDir, entry, InstalledCheck::kExact);
        case RepairRule::kNewVersion:
            return !asRecorded || !IsInstalled(delivery.targetDir, entry, InstalledCheck::kSize);
        case RepairRule::kRestoreMissing:
            return !IsInstalled(delivery.targetDir, entry, InstalledCheck::kExists);
    }
    return true;
}

// True when served is exactly the recorded package, entry for entry.
bool SamePackage(const std::vector<PackageEntry>& recorded,
                 const std::vector<PackageEntry>& served) {
    if (recorded.size() != served.size()) return false;
    for (size_t i = 0; i < served.size(); ++i) {
        if (!SameEntry(recorded[i], served[i])) return false;
    }
    return true;
}

// The package's end records and central directory, fetched into file at
// their offsets: first a tail the size of the record and a margin, then
// whatever of the end records or the directory lies before it.
bool FetchDirectory(const PackageDelivery& delivery, Transport& transport, LocalFile& file,
                    DeliveryObserver& observer, RemoteFile* remote, uint64_t* fetched,
                    std::vector<unsigned char>* record) {
    // The end records and directory are small beside the entries: no length
    // shown for them.
    ProgressCount progress;
    const uint64_t guess = ReadFileFacts(delivery.recordPath).size + kTailMargin;
    uint64_t start = 0;
    if (FetchTail(transport, delivery.url, guess < kPackageTailBytes ? guess : kPackageTailBytes,
                  file, &progress, observer, remote, &start) != S_OK) {
        return false;
    }
    for (int attempt = 0;; ++attempt) {
        std::vector<unsigned char> tail(static_cast<size_t>(remote->total - start));
        DirectoryLocation location;
        if (file.ReadAt(start, tail.data(), tail.size()) != S_OK) return false;
        if (LocateDirectory(tail, &location)) {
            // Offsets counted from elsewhere (bytes before the archive) would
            // fetch the wrong data.
            if (location.offset + location.size != start + location.endInBuffer) return false;
            if (location.offset < start) {
                // Judged before it is fetched: a tail may claim any size.
                if (start - location.offset > kMaxDirectoryBytes ||
                    FetchSpan(transport, delivery.url, *remote, location.offset, start - 1, file,
                              &progress, observer) != S_OK) {
                    return false;
                }
            }
            break;
        }
        // The end records lie further back than the guess reached.
        const uint64_t wider =
            remote->total < kPackageTailBytes ? 0 : remote->total - kPackageTailBytes;
        if (attempt > 0 || wider >= start ||
            FetchSpan(transport, delivery.url, *remote, wider, start - 1, file, &progress,
                      observer) != S_OK) {
            return false;
        }
        start = wider;
    }
    *fetched = progress.done;
    return RecordOfPackage(file, record);
}

// Fetches into the sparse copy at sparsePath the package's directory and the
// entries the rule asks for. False when the delivery must go the whole way.
bool FetchByRanges(const PackageDelivery& delivery, const std::vector<PackageEntry>& recorded,
                   const std::wstring& sparsePath, Transport& transport, DeliveryObserver& observer,
                   RangedCopy* copy) {
    RemoteFile remote;
    uint64_t fetched = 0;
    {
        LocalFile file;
        if (file.Open(sparsePath, LocalFile::Mode::kTruncate) != S_OK) return false;
        file.MakeSparse();
        if (!FetchDirectory(delivery, transport, file, observer, &remote, &fetched,
                            &copy->record) ||
            !ReadDirectory(copy->record, &copy->entries)) {
            return false;
        }
        if (delivery.rule == RepairRule::kRestoreMissing && !SamePackage(recorded, copy->entries)) {
            return false;
        }
        std::map<std::string, const PackageEntry*> byName;
        for (const PackageEntry& entry : recorded) byName[entry.name] = &entry;
        copy->wanted.assign(copy->entries.size(), false);
        uint32_t wantedCount = 0;
        for (size_t i = 0; i < copy->entries.size(); ++i) {
            const auto found = byName.find(copy->entries[i].name);
            copy->wanted[i] =
                Wanted(delivery, found == byName.end() ? nullptr : found->second, copy->entries[i]);
            if (copy->wanted[i]) ++wantedCount;
        }
        // A new version in which nothing differs is most likely the old
        // package still served (a cache, a publish out of order).
        if (delivery.rule == RepairRule::kNewVersion && wantedCount == 0) return false;

        // The record runs from the directory to the package's end.
        const uint64_t directoryOffset = remote.total - static_cast<uint64_t>(copy->record.size());
        std::vector<ByteRange> spans;
        if (!EntrySpans(copy->entries, copy->wanted, directoryOffset, &spans)) return false;
        const std::vector<ByteRange> ranges = PlanRanges(spans, kMaxEntryRequests);
        if (WholeDownloadIsCheaper(ranges, remote.total)) return false;
        ProgressCount progress{0, RangeBytes(ranges)};
        for (const ByteRange& range : ranges) {
            if (FetchSpan(transport, delivery.url, remote, range.offset,
                          range.offset + range.length - 1, file, &progress, observer) != S_OK) {
                return false;
            }
        }
        // The whole band once the package is in line, as a whole download ends.
        if (progress.total == 0) observer.Progress(1, 1);
        copy->summary = {true, wantedCount, static_cast<uint32_t>(copy->entries.size()),
                         fetched + progress.done, remote.total};
    }  // closed here: the zip layer reads it next
    // The plan's entry i must be the entry i the unpack extracts: an archive
    // may hold directories that the planner and the zip layer read apart.
    return ArchiveMatchesPlan(sparsePath.c_str(), copy->entries, nullptr);
}

DeliveryResult Unpacked(bool complete) {
    return {complete ? DeliveryStatus::kInLine : DeliveryStatus::kUnpackFailed, S_OK};
}

}  // namespace

DeliveryResult DeliverPackage(const PackageDelivery& delivery, Transport& transport,
                              DeliveryObserver& observer) {
    const std::wstring sparsePath = delivery.copyPath + kSparseSuffix;
    std::vector<PackageEntry> recorded;
    RangedCopy ranged;
    if (ReadRecord(delivery.recordPath, &recorded) &&
        FetchByRanges(delivery, recorded, sparsePath, transport, observer, &ranged)) {
        observer.Fetched(ranged.summary);
        for (bool wanted : ranged.wanted) {
            if (wanted && !delivery.claimPath.empty()) {
                DeleteOneFile(delivery.claimPath);
                break;
            }
        }
        // What an earlier, whole try left is not needed any more.
        ForgetDownload(delivery.copyPath);
        if (!UnpackPackage(sparsePath.c_str(), delivery.targetDir.c_str(), &ranged.wanted)) {
            // Ranges that gave wrong bytes would give them again: the next
            // try goes the whole way.
            DeleteOneFile(delivery.recordPath);
            return Unpacked(false);
        }
        // An old record left in place would claim the entries just replaced.
        if (delivery.rule != RepairRule::kRestoreMissing &&
            !KeepRecord(ranged.record, delivery.recordPath)) {
            DeleteOneFile(delivery.recordPath);
        }
        return Unpacked(true);
    }
    DeleteOneFile(sparsePath);

    const HRESULT downloaded = DownloadWhole(transport, delivery.url, delivery.copyPath, observer);
    if (downloaded != S_OK) return {DeliveryStatus::kDownloadFailed, downloaded};
    // Checked before anything is deleted or extracted: a package that is not
    // the one its version names leaves the installed files as they are.
    if (delivery.wholeMatches && !delivery.wholeMatches(delivery.copyPath)) {
        ForgetDownload(delivery.copyPath);
        return {DeliveryStatus::kMismatch, S_OK};
    }
    FetchSummary summary;
    observer.Fetched(summary);
    // A record the zip layer would read otherwise would describe files that
    // are not on disk.
    std::vector<unsigned char> record;
    std::vector<PackageEntry> planned;
    bool recordable = false;
    {
        LocalFile file;
        recordable = file.Open(delivery.copyPath, LocalFile::Mode::kRead) == S_OK &&
                     RecordOfPackage(file, &record);
    }
    recordable = recordable && ReadDirectory(record, &planned) &&
                 ArchiveMatchesPlan(delivery.copyPath.c_str(), planned, nullptr);
    if (!delivery.claimPath.empty()) DeleteOneFile(delivery.claimPath);
    const bool complete = UnpackPackage(delivery.copyPath.c_str(), delivery.targetDir.c_str());
    ForgetDownload(delivery.copyPath);
    if (complete) {
        // Every file is the new package's now: an old record would claim others.
        if (!recordable || !KeepRecord(record, delivery.recordPath)) {
            DeleteOneFile(delivery.recordPath);
        }
    }
    return Unpacked(complete);
}

}  // namespace qorv
