#include "delivery/Apply.h"

#include <zlib.h>

#include <algorithm>
#include <cwchar>
#include <set>

#include "InstallNames.h"
#include "TraceTexts.h"
#include "services/FileSystem.h"
#include "services/LocalFile.h"
#include "services/Sha256.h"
#include "services/Text.h"
#include "services/Trace.h"
#include "services/zip/ScopedZip.h"
#include "services/zip/ZipExtract.h"
#include "services/zip/ZipHresult.h"

namespace qorv {

namespace {

constexpr size_t kCheckBufferSize = 64 * 1024;

// The deepest folder along folder (relative to targetDir) that exists now.
std::wstring DeepestFolder(const std::wstring& targetDir, std::wstring folder) {
    while (!folder.empty()) {
        const FileFacts facts = ReadFileFacts(AppendPath(targetDir, folder));
        if (facts.exists && facts.directory) return folder;
        folder = EntryParent(folder);
    }
    return folder;
}

// Makes the missing folders of name's target now, as the move would make
// them, noting each one made. Staged beside their targets, a first install's
// files would otherwise all wait in one folder, and where names are looked up
// regardless of case (Wine on a Unix file system) each new name there costs a
// look at every name already there. A folder that cannot be made is left to
// the move: the file waits in the deepest folder there is.
void MakeTargetFolders(const std::wstring& targetDir, const std::wstring& name,
                       std::vector<std::wstring>* made) {
    const std::wstring parent = EntryParent(name);
    const std::wstring existing = DeepestFolder(targetDir, parent);
    if (existing == parent || MakeDirectories(AppendPath(targetDir, parent)) != S_OK) return;
    for (std::wstring level = parent; level != existing; level = EntryParent(level)) {
        made->push_back(level);
    }
}

// Removes the folders MakeTargetFolders made that are empty, the deepest
// first, so that a package that failed for good leaves none behind.
void RemoveMadeFolders(const std::wstring& targetDir, std::vector<std::wstring> made) {
    std::sort(made.begin(), made.end(),
              [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
    for (const std::wstring& folder : made) {
        RemoveDirectoryOrLink(AppendPath(targetDir, folder), DirEntry{L"", true, false});
    }
}

bool IsBadBytes(ZipResult result) {
    return result == ZipErrCorrupt || result == ZipErrRead || result == ZipErrPassword ||
           result == ZipErrInflate;
}

// True when the file at path (facts) holds exactly entry's bytes by size
// and CRC-32: a staged file an earlier try left can serve again.
bool HoldsEntry(const std::wstring& path, const FileFacts& facts, const PackageEntry& entry) {
    if (!facts.exists || facts.directory || facts.size != entry.uncompressedSize) return false;
    LocalFile file;
    if (file.Open(path, LocalFile::Mode::kRead) != S_OK) return false;
    std::vector<unsigned char> buffer(kCheckBufferSize);
    uLong crc = crc32(0, nullptr, 0);
    for (uint64_t at = 0; at < facts.size;) {
        const size_t piece =
            static_cast<size_t>(std::min<uint64_t>(buffer.size(), facts.size - at));
        if (file.ReadAt(at, buffer.data(), piece) != S_OK) return false;
        crc = crc32(crc, buffer.data(), static_cast<uInt>(piece));
        at += piece;
    }
    return crc == entry.crc;
}

// True unless entry's record carries a SHA-256 that the file does not have.
bool DigestMatches(const std::wstring& path, const PackageEntry& entry) {
    Sha256Digest expected{};
    if (!EntrySha256(entry, &expected)) return true;
    Sha256Digest actual{};
    return Sha256OfFile(path, &actual) && actual == expected;
}

void TraceFailure(unsigned result, const wchar_t* name) {
    TraceLog(kTraceUnpackFailed, result);
    TraceLogW(name);
    TraceLog(kTraceLineEnd);
}

// Where the system can tell, the trace names who holds a file in use.
void TraceHolders(const std::wstring& path) {
    const std::wstring holders = FileHolders(path);
    if (holders.empty()) return;
    TraceLog(kTraceHeldBy);
    TraceLogW(holders.c_str());
    TraceLog(kTraceLineEnd);
}

// The files of the previous package by the file they name.
std::set<std::wstring> InstalledFiles(const InstallState* installed) {
    std::set<std::wstring> files;
    if (installed == nullptr) return files;
    for (const InstalledEntry& entry : installed->entries) files.insert(EntryFileKey(entry.name));
    return files;
}

std::wstring FileKeyOf(const std::wstring& relative) {
    return EntryFileKey(Utf16ToUtf8(relative));
}

// What stands where a new entry goes and must go first: a file of the
// previous package where a folder comes (at name itself or a folder above
// it), or a folder of its files where a file comes. A player's own file in
// the way is the failure's path.
bool CollectObstacles(const std::wstring& targetDir, const std::wstring& name, bool folder,
                      const std::set<std::wstring>& installedFiles,
                      std::vector<std::wstring>* removals, std::wstring* blocking) {
    std::vector<std::wstring> levels;
    for (std::wstring level = folder ? name : EntryParent(name); !level.empty();
         level = EntryParent(level)) {
        levels.push_back(level);
    }
    for (const std::wstring& level : levels) {
        const FileFacts facts = ReadFileFacts(AppendPath(targetDir, level));
        if (facts.directory) break;  // and so is every level above it
        if (!facts.exists) continue;
        if (installedFiles.count(FileKeyOf(level)) == 0) {
            *blocking = AppendPath(targetDir, level);
            return false;
        }
        removals->push_back(level);
    }
    if (folder || !ReadFileFacts(AppendPath(targetDir, name)).directory) return true;
    // A folder where the file goes: it may hold the previous package's files
    // and folders only, which go deepest first.
    std::vector<std::wstring> pending{name};
    std::vector<std::wstring> folders;
    while (!pending.empty()) {
        const std::wstring current = pending.back();
        pending.pop_back();
        folders.push_back(current);
        std::vector<DirEntry> listing;
        if (!ListDirectory(AppendPath(targetDir, current), &listing)) {
            *blocking = AppendPath(targetDir, current);
            return false;
        }
        for (const DirEntry& item : listing) {
            const std::wstring child = AppendPath(current, item.name);
            if (item.directory && !item.link) {
                pending.push_back(child);
            } else if (item.link || installedFiles.count(FileKeyOf(child)) == 0) {
                *blocking = AppendPath(targetDir, child);
                return false;
            } else {
                removals->push_back(child);
            }
        }
    }
    removals->insert(removals->end(), folders.rbegin(), folders.rend());
    return true;
}

// A staged file of this delivery, checked once every file is closed.
struct StagedFile {
    size_t index;  // in the package
    std::wstring stagedPath;
    std::wstring shownName;  // as the trace names the entry
    bool reused;             // an earlier try left it, holding the entry
};

// Writes entry index of archive whole beside its target (name), as
// installed->staged names it; a staged file an earlier try left that holds
// the entry serves again (*reused). The written file is closed, flushed, on
// the archive's own threads: ZipFinishFiles reports how that ended.
ZipResult StageFile(ZipHandle archive, const ApplyRequest& request, int32_t index,
                    const std::wstring& name, InstalledEntry* installed, StagedFile* staged) {
    const PackageEntry& entry = (*request.entries)[static_cast<size_t>(index)];
    wchar_t stageName[32];
    swprintf(stageName, sizeof stageName / sizeof stageName[0], kStagedFileFormat,
             static_cast<unsigned>(index));
    const std::wstring folder = DeepestFolder(request.targetDir, EntryParent(name));
    const std::wstring relative = AppendPath(folder, stageName);
    if (relative.empty()) return ZipErrFile;  // does not fit a path
    staged->stagedPath = AppendPath(request.targetDir, relative);
    installed->staged = Utf16ToUtf8(relative);
    // Under Wine a look for a name that is not there costs a read of the
    // whole folder: a first try's path is looked at once.
    const FileFacts left = ReadFileFacts(staged->stagedPath);
    staged->reused = HoldsEntry(staged->stagedPath, left, entry);
    if (staged->reused) return ZipOk;
    if (left.exists) {
        ClearReadOnly(staged->stagedPath);
        DeleteOneFile(staged->stagedPath);
    }
    const ZipResult based = ZipSetBaseDir(archive, AppendPath(request.targetDir, folder).c_str());
    if (based != ZipOk) {
        return based;
    }
    return ZipExtractEntry(archive, index, stageName);
}

// Traces an entry that did not stage and makes it the result's failure: the
// package's own (wrong bytes) wins, else the first.
void NoteFailure(ZipResult extracted, const ApplyRequest& request, const wchar_t* shownName,
                 uint64_t stagedBytes, ApplyResult* result, bool* packageFault) {
    TraceFailure(extracted, shownName);
    const HRESULT failed = ZipResultToHresult(extracted);
    if (IsBadBytes(extracted)) {
        *packageFault = true;
        *result = {ApplyStatus::kBadBytes, failed, AppendPath(request.targetDir, shownName)};
    } else if (result->status == ApplyStatus::kApplied) {
        *result = {ApplyStatus::kFailed, failed, AppendPath(request.targetDir, shownName),
                   failed == kResultDiskFull ? stagedBytes : 0};
    }
}

}  // namespace

HRESULT CheckRoom(const std::wstring& targetDir, uint64_t bytes) {
    uint64_t free = 0;
    if (FreeBytes(targetDir, &free) != S_OK || free >= bytes) return S_OK;
    constexpr uint64_t kKilobyte = 1024;
    TraceLog(kTraceNoRoom, static_cast<unsigned>(kResultDiskFull),
             static_cast<unsigned long>((bytes + kKilobyte - 1) / kKilobyte),
             static_cast<unsigned long>(free / kKilobyte));
    TraceLogW(targetDir.c_str());
    TraceLog(kTraceLineEnd);
    return kResultDiskFull;
}

ApplyResult ApplyPackage(const ApplyRequest& request, InstallState* next) {
    const std::vector<PackageEntry>& entries = *request.entries;
    const std::vector<EntryPlan>& plans = *request.plans;
    const uint64_t stagedBytes = ExtractedBytes(entries, plans);
    const std::set<std::wstring> installedFiles = InstalledFiles(request.installed);
    ApplyResult result;
    next->applying = false;
    next->entries.clear();
    next->removals.clear();
    // The folder the staged files go to at least: a first install has none.
    const HRESULT made = MakeDirectories(request.targetDir);
    if (made != S_OK) return {ApplyStatus::kFailed, made, request.targetDir};
    if (CheckRoom(request.targetDir, stagedBytes) != S_OK) {
        return {ApplyStatus::kFailed, kResultDiskFull, request.targetDir, stagedBytes};
    }

    ScopedZip archive(ZipOpen(request.archivePath.c_str()));
    if (archive == nullptr) {
        return {ApplyStatus::kBadBytes, ZipResultToHresult(ZipLastResult()), request.archivePath};
    }
    // Flushed before their close, on the archive's threads.
    ZipSetDurable(archive.get(), true);
    TraceLog(kTraceLineEnd);
    std::vector<std::wstring> removals;
    std::vector<StagedFile> stagedFiles;
    std::vector<std::wstring> madeFolders;
    // The package's own fault (a refused name, wrong bytes) will not mend:
    // what it staged goes. Others (a full disk) keep it for the retry.
    bool packageFault = false;
    for (size_t i = 0; i < entries.size(); ++i) {
        const PackageEntry& entry = entries[i];
        const EntryPlan& plan = plans[i];
        if (plan.action == EntryAction::kShadowed) continue;
        InstalledEntry installed;
        installed.name = entry.name;
        installed.crc = entry.crc;
        installed.size = entry.uncompressedSize;
        installed.attributes = EntryAttributes(entry);
        if (plan.action == EntryAction::kKeep) {
            installed.diskSize = plan.installed->diskSize;
            installed.diskTime = plan.installed->diskTime;
            next->entries.push_back(installed);
            continue;
        }
        const int32_t index = static_cast<int32_t>(i);
        ZipEntryInfo info{};
        ZipResult extracted = ZipGetEntry(archive.get(), index, &info);
        TraceLog(kTraceDelete);
        TraceLogW(AppendPath(request.targetDir, info.name).c_str());
        TraceLog(kTraceLineEnd);
        std::wstring name;
        if (extracted == ZipOk && !EntryTargetName(entry.name, &name)) {
            extracted = ZipErrFile;
            packageFault = true;  // a name no extraction will ever take
        }
        std::wstring blocking;
        if (extracted == ZipOk && !CollectObstacles(request.targetDir, name, IsFolderEntry(entry),
                                                    installedFiles, &removals, &blocking)) {
            // A player's file where the package puts another kind: it stays,
            // and the trace names it.
            TraceFailure(static_cast<unsigned>(kResultInTheWay), blocking.c_str());
            if (result.status == ApplyStatus::kApplied) {
                result = {ApplyStatus::kFailed, kResultInTheWay, blocking};
            }
            extracted = ZipErrFile;
        }
        if (extracted == ZipOk && IsFolderEntry(entry)) {
            installed.staged = kMakeFolder;
        } else if (extracted == ZipOk) {
            MakeTargetFolders(request.targetDir, name, &madeFolders);
            StagedFile staged{i, std::wstring(), info.name, false};
            extracted = StageFile(archive.get(), request, index, name, &installed, &staged);
            if (extracted == ZipOk) stagedFiles.push_back(staged);
        }
        TraceLogW(info.name);
        TraceLog(kTraceLineEnd);
        if (extracted != ZipOk) {
            NoteFailure(extracted, request, info.name, stagedBytes, &result, &packageFault);
        }
        next->entries.push_back(installed);
    }
    // Nothing staged is checked or called installed before it is closed.
    int32_t failedIndex = -1;
    const ZipResult finished = ZipFinishFiles(archive.get(), &failedIndex);
    if (finished != ZipOk) {
        ZipEntryInfo info{};
        const ZipResult named = ZipGetEntry(archive.get(), failedIndex, &info);
        NoteFailure(finished, request, named == ZipOk ? info.name : L"", stagedBytes, &result,
                    &packageFault);
    }
    archive.reset();  // its read-ahead threads end before the moves
    if (request.checkEntryDigests && finished == ZipOk) {
        for (const StagedFile& staged : stagedFiles) {
            if (DigestMatches(staged.stagedPath, entries[staged.index])) continue;
            ClearReadOnly(staged.stagedPath);
            DeleteOneFile(staged.stagedPath);
            // As a CRC-32 that does not match.
            NoteFailure(ZipErrInflate, request, staged.shownName.c_str(), stagedBytes, &result,
                        &packageFault);
        }
    }
    TraceLog(kTraceUnpackDone);
    if (result.status != ApplyStatus::kApplied) {
        if (packageFault) {
            for (const InstalledEntry& entry : next->entries) {
                if (entry.staged.empty() || entry.staged == kMakeFolder) continue;
                const std::wstring stagedPath =
                    AppendPath(request.targetDir, Utf8ToUtf16(entry.staged));
                ClearReadOnly(stagedPath);
                DeleteOneFile(stagedPath);
            }
            RemoveMadeFolders(request.targetDir, madeFolders);
        }
        return result;
    }

    // A file an earlier try staged may never have been flushed; those this
    // run wrote were, before their close.
    for (const StagedFile& staged : stagedFiles) {
        if (!staged.reused) continue;
        const HRESULT flushed = FlushFile(staged.stagedPath);
        if (flushed != S_OK) return {ApplyStatus::kFailed, flushed, staged.stagedPath};
    }
    // Every target must take its new file before the first one does.
    for (const InstalledEntry& entry : next->entries) {
        if (entry.staged.empty() || entry.staged == kMakeFolder) continue;
        std::wstring name;
        EntryTargetName(entry.name, &name);
        const std::wstring target = AppendPath(request.targetDir, name);
        // A running game's program is moved aside in the second phase.
        bool moveAside = false;
        const HRESULT replaceable = CheckReplaceable(target, &moveAside);
        if (replaceable != S_OK) {
            TraceFailure(static_cast<unsigned>(replaceable), name.c_str());
            TraceHolders(target);
            return {ApplyStatus::kFailed, replaceable, target};
        }
    }
    for (const std::wstring& removal : removals) next->removals.push_back(Utf16ToUtf8(removal));
    if (request.installed != nullptr) next->leftovers = request.installed->leftovers;
    next->applying = true;
    if (!WriteInstallState(*next, request.statePath)) {
        return {ApplyStatus::kFailed, kResultFailed, request.statePath};
    }
    return FinishApply(request.targetDir, request.statePath, next);
}

}  // namespace qorv
