#include "delivery/Delivery.h"

#include "InstallNames.h"
#include "delivery/Apply.h"
#include "delivery/Download.h"
#include "delivery/InstallState.h"
#include "delivery/PlanCheck.h"
#include "delivery/RangePlan.h"
#include "services/FileSystem.h"
#include "services/LocalFile.h"
#include "services/Sha256.h"

namespace qorv {

namespace {

// Room for a directory that grew, and an end record's comment, beyond the
// installed directory's estimated size when the package's tail is asked for
// first.
constexpr uint64_t kTailMargin = 4 * 1024;
// A central record's fixed part, and the extra fields the kit writes (times
// and the entry's SHA-256), for that estimate.
constexpr uint64_t kRecordEstimate = 46 + 9 + 36;
// A directory larger than this is no package's.
constexpr uint64_t kMaxDirectoryBytes = 64ull * 1024 * 1024;

// The package's central directory and end records as a delivery read them.
struct ServedDirectory {
    std::vector<unsigned char> bytes;  // from the first central record to the end
    std::vector<PackageEntry> entries;
    Sha256Digest digest{};
};

bool ReadServedDirectory(std::vector<unsigned char> bytes, ServedDirectory* served) {
    if (!ReadDirectory(bytes, &served->entries)) return false;
    Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    served->digest = hash.Final();
    served->bytes = std::move(bytes);
    return true;
}

// The directory and end records of the package (whole or a sparse copy)
// open in file. False when the end records are not there or the directory
// does not end where they begin (offsets counted from elsewhere would fetch
// the wrong data).
bool DirectoryOfCopy(LocalFile& file, std::vector<unsigned char>* bytes) {
    uint64_t size = 0;
    if (file.Size(&size) != S_OK) return false;
    const uint64_t tail = size < kPackageTailBytes ? size : kPackageTailBytes;
    std::vector<unsigned char> buffer(static_cast<size_t>(tail));
    DirectoryLocation location;
    if (file.ReadAt(size - tail, buffer.data(), buffer.size()) != S_OK ||
        !LocateDirectory(buffer, &location) ||
        location.offset + location.size != size - tail + location.endInBuffer ||
        size - location.offset > kMaxDirectoryBytes + kPackageTailBytes) {
        return false;
    }
    bytes->assign(static_cast<size_t>(size - location.offset), 0);
    return file.ReadAt(location.offset, bytes->data(), bytes->size()) == S_OK;
}

// The package's end records and central directory, fetched into the copy
// at their offsets: first a tail of about the installed directory's size,
// then whatever of the end records or the directory lies before it.
bool FetchDirectory(SpanFetch& fetch, LocalFile& file, const InstallState& installed) {
    uint64_t guess = kTailMargin;
    for (const InstalledEntry& entry : installed.entries) {
        guess += kRecordEstimate + entry.name.size();
    }
    uint64_t start = 0;
    if (fetch.Tail(guess < kPackageTailBytes ? guess : kPackageTailBytes, &start) != S_OK) {
        return false;
    }
    const uint64_t total = fetch.remote().total;
    for (int attempt = 0;; ++attempt) {
        std::vector<unsigned char> tail(static_cast<size_t>(total - start));
        DirectoryLocation location;
        if (file.ReadAt(start, tail.data(), tail.size()) != S_OK) return false;
        if (LocateDirectory(tail, &location)) {
            if (location.offset + location.size != start + location.endInBuffer) return false;
            // Judged before it is fetched: a tail may claim any size.
            return location.offset >= start || (start - location.offset <= kMaxDirectoryBytes &&
                                                fetch.Span(location.offset, start - 1) == S_OK);
        }
        // The end records lie further back than the guess reached.
        const uint64_t wider = total < kPackageTailBytes ? 0 : total - kPackageTailBytes;
        if (attempt > 0 || wider >= start || fetch.Span(wider, start - 1) != S_OK) return false;
        start = wider;
    }
}

DeliveryResult Failed(DeliveryStatus status, const ApplyResult& applied) {
    return {status, applied.error, applied.path, applied.bytesNeeded};
}

// Both phases over the package copy at archivePath, as plans say; the state
// committed names the delivery's version and the served directory.
ApplyResult Apply(const PackageDelivery& delivery, const std::wstring& archivePath,
                  const ServedDirectory& served, const InstallState* installed,
                  const std::vector<EntryPlan>& plans, bool checkEntryDigests) {
    ApplyRequest request;
    request.archivePath = archivePath;
    request.targetDir = delivery.targetDir;
    request.statePath = delivery.statePath;
    request.entries = &served.entries;
    request.plans = &plans;
    request.installed = installed;
    request.checkEntryDigests = checkEntryDigests;
    InstallState next;
    next.version = delivery.version;
    next.directory = served.digest;
    return ApplyPackage(request, &next);
}

// The rule a served package is planned with: a package that changed under
// the same version is brought in line as a new version would be.
RepairRule RuleFor(const PackageDelivery& delivery, const InstallState* installed,
                   const ServedDirectory& served) {
    if (delivery.rule == RepairRule::kRestoreMissing &&
        (installed == nullptr || installed->directory != served.digest)) {
        return RepairRule::kNewVersion;
    }
    return delivery.rule;
}

// The road by ranges. True when it decided the delivery (result set);
// false when the whole download must do it.
bool DeliverByRanges(const PackageDelivery& delivery, const InstallState& installed,
                     const std::wstring& sparsePath, Transport& transport,
                     DeliveryObserver& observer, DeliveryResult* result) {
    ServedDirectory served;
    LocalFile file;
    if (file.Open(sparsePath, LocalFile::Mode::kTruncate) != S_OK) return false;
    file.MakeSparse();
    // The end records and directory are small beside the entries: no length
    // shown for them.
    SpanFetch fetch(transport, delivery.url, file, observer);
    std::vector<unsigned char> bytes;
    if (!FetchDirectory(fetch, file, installed) || !DirectoryOfCopy(file, &bytes) ||
        !ReadServedDirectory(std::move(bytes), &served)) {
        return false;
    }
    const uint64_t fetched = fetch.progress().done;
    const uint64_t total = fetch.remote().total;
    file.Close();  // the zip layer reads it next
    // A version that names its directory judges the served one before
    // anything is planned: an edge still serving the previous package, or a
    // tampered one, is refused here as a whole download would be.
    if (delivery.expected.hasDirectory && served.digest != delivery.expected.directory) {
        *result = {DeliveryStatus::kMismatch, S_OK, delivery.url};
        return true;
    }
    // The installed package still served under a new version (a cache, a
    // publish out of order): the whole download lets its digest judge it.
    // A package that changed under the same version goes the whole way too.
    const bool sameDirectory = served.digest == installed.directory;
    if ((delivery.rule == RepairRule::kNewVersion && sameDirectory) ||
        (delivery.rule == RepairRule::kRestoreMissing && !sameDirectory)) {
        return false;
    }
    // The zip layer must read the directory planned with: an archive may hold
    // directories that the planner and the zip layer read apart.
    if (!ArchiveMatchesPlan(sparsePath.c_str(), served.entries, nullptr)) return false;
    const std::vector<EntryPlan> plans =
        PlanEntries(served.entries, &installed, delivery.targetDir, delivery.rule);
    std::vector<bool> wanted(plans.size());
    uint32_t wantedCount = 0;
    for (size_t i = 0; i < plans.size(); ++i) {
        wanted[i] = plans[i].action == EntryAction::kExtract;
        if (wanted[i]) ++wantedCount;
    }
    const uint64_t directoryOffset = total - static_cast<uint64_t>(served.bytes.size());
    std::vector<ByteRange> spans;
    if (!EntrySpans(served.entries, wanted, directoryOffset, &spans)) return false;
    const std::vector<ByteRange> ranges = PlanRanges(spans, kMaxEntryRequests);
    if (WholeDownloadIsCheaper(ranges, total)) return false;
    // Room for the ranges and the staged entries, before a byte of them.
    const uint64_t needed = RangeBytes(ranges) + ExtractedBytes(served.entries, plans);
    if (CheckRoom(delivery.targetDir, needed) != S_OK) {
        *result = {DeliveryStatus::kUnpackFailed, kResultDiskFull, delivery.targetDir, needed};
        return true;
    }
    fetch.progress() = {0, RangeBytes(ranges)};
    if (file.Open(sparsePath, LocalFile::Mode::kUpdate) != S_OK) return false;
    for (const ByteRange& range : ranges) {
        if (fetch.Span(range.offset, range.offset + range.length - 1) != S_OK) return false;
    }
    file.Close();
    // The whole band once the package is in line, as a whole download ends.
    if (fetch.progress().total == 0) observer.Progress(1, 1);
    observer.Fetched({true, wantedCount, static_cast<uint32_t>(served.entries.size()),
                      fetched + fetch.progress().done, total});
    const ApplyResult applied =
        Apply(delivery, sparsePath, served, &installed, plans, delivery.expected.hasDirectory);
    switch (applied.status) {
        case ApplyStatus::kApplied:
            // What an earlier, whole try left is not needed any more.
            ForgetDownload(delivery.copyPath);
            *result = {};
            return true;
        case ApplyStatus::kBadBytes:
            // Ranges that gave wrong bytes would give them again.
            return false;
        case ApplyStatus::kFailed:
            // Nothing to do with the bytes: the state stays, and the next
            // try goes by ranges again.
            *result = Failed(DeliveryStatus::kUnpackFailed, applied);
            return true;
    }
    return false;
}

DeliveryResult DeliverWhole(const PackageDelivery& delivery, const InstallState* installed,
                            Transport& transport, DeliveryObserver& observer) {
    uint64_t needed = 0;
    const HRESULT downloaded =
        DownloadWhole(transport, delivery.url, delivery.copyPath, observer, &needed);
    // No room for the download is no fault of the server: the space state,
    // keeping what arrived.
    if (downloaded == kResultDiskFull) {
        return {DeliveryStatus::kUnpackFailed, downloaded, delivery.copyPath, needed};
    }
    if (downloaded != S_OK) return {DeliveryStatus::kDownloadFailed, downloaded, delivery.url};
    // Judged before anything is staged: a package that is not the one its
    // version names leaves the installed files as they are.
    // The copy stays: it may be the newer package, which a version read
    // again names (an edge that moved on during the download).
    if (delivery.expected.hasPackage) {
        Sha256Digest digest{};
        if (!Sha256OfFile(delivery.copyPath, &digest) || digest != delivery.expected.package) {
            return {DeliveryStatus::kMismatch, S_OK, delivery.url};
        }
    }
    observer.Fetched(FetchSummary());
    ServedDirectory served;
    std::vector<unsigned char> bytes;
    bool readable = false;
    {
        LocalFile file;
        readable = file.Open(delivery.copyPath, LocalFile::Mode::kRead) == S_OK &&
                   DirectoryOfCopy(file, &bytes);
    }
    if (!readable || !ReadServedDirectory(std::move(bytes), &served) ||
        !ArchiveMatchesPlan(delivery.copyPath.c_str(), served.entries, nullptr)) {
        ForgetDownload(delivery.copyPath);
        return {DeliveryStatus::kUnpackFailed, S_OK, delivery.copyPath};
    }
    if (delivery.expected.hasDirectory && served.digest != delivery.expected.directory) {
        return {DeliveryStatus::kMismatch, S_OK, delivery.url};
    }
    // Only the entries the rule asks for: a file the game rewrote stays.
    const std::vector<EntryPlan> plans = PlanEntries(served.entries, installed, delivery.targetDir,
                                                     RuleFor(delivery, installed, served));
    const ApplyResult applied =
        Apply(delivery, delivery.copyPath, served, installed, plans, !delivery.expected.hasPackage);
    switch (applied.status) {
        case ApplyStatus::kApplied:
            ForgetDownload(delivery.copyPath);
            return {};
        case ApplyStatus::kBadBytes:
            ForgetDownload(delivery.copyPath);
            return Failed(DeliveryStatus::kUnpackFailed, applied);
        case ApplyStatus::kFailed:
            // Kept for the retry: a full disk or a file in use is no fault
            // of the bytes.
            return Failed(DeliveryStatus::kUnpackFailed, applied);
    }
    return Failed(DeliveryStatus::kUnpackFailed, applied);
}

}  // namespace

DeliveryResult DeliverPackage(const PackageDelivery& delivery, Transport& transport,
                              DeliveryObserver& observer) {
    InstallState installed;
    const bool hasState = ReadInstallState(delivery.statePath, &installed);
    if (hasState && installed.applying) {
        // A run killed while it moved the staged files: they go first.
        const ApplyResult finished =
            FinishApply(delivery.targetDir, delivery.statePath, &installed);
        if (finished.status != ApplyStatus::kApplied) {
            return Failed(DeliveryStatus::kUnpackFailed, finished);
        }
    }
    // Programs an earlier run moved aside go once nobody runs them.
    if (hasState && RemoveLeftovers(delivery.targetDir, &installed) &&
        !WriteInstallState(installed, delivery.statePath)) {
        return {DeliveryStatus::kUnpackFailed, kResultFailed, delivery.statePath};
    }
    // A whole copy an earlier try kept is judged first: fetching ranges
    // beside it would fetch its bytes again.
    if (hasState && !HasWholeCopy(delivery.url, delivery.copyPath)) {
        const std::wstring sparsePath = delivery.copyPath + kSparseSuffix;
        DeliveryResult result;
        const bool decided =
            DeliverByRanges(delivery, installed, sparsePath, transport, observer, &result);
        DeleteOneFile(sparsePath);
        if (decided) return result;
    }
    return DeliverWhole(delivery, hasState ? &installed : nullptr, transport, observer);
}

}  // namespace qorv
