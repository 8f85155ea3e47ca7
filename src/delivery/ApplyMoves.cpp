#include "delivery/Apply.h"

#include "InstallNames.h"
#include "services/FileSystem.h"
#include "services/Text.h"

// The second phase: what stands in the way goes, the staged files move over
// their targets, and the state is committed.
namespace qorv {

namespace {

// How many numbered names beside a running program's image are tried.
constexpr int kMaxAsideNames = 100;

// A free name beside the file name (relative to targetDir) to move it aside to.
std::wstring AsideName(const std::wstring& targetDir, const std::wstring& name) {
    std::wstring aside;
    for (int n = 0; n < kMaxAsideNames; ++n) {
        aside = name + L"." + std::to_wstring(n) + kAsideSuffix;
        if (!PathExists(AppendPath(targetDir, aside))) break;
    }
    return aside;
}

// Puts the staged file over target; a target that only a rename gets out of
// the way (a running program's image) goes aside first, and is kept in the
// state's leftovers for a later run to delete.
HRESULT PutInPlace(const std::wstring& targetDir, const std::wstring& name,
                   const std::wstring& staged, InstallState* state) {
    const std::wstring target = AppendPath(targetDir, name);
    ClearReadOnly(target);
    const HRESULT replaced = MoveOver(staged, target);
    bool moveAside = false;
    if (replaced == S_OK || CheckReplaceable(target, &moveAside) != S_OK || !moveAside) {
        return replaced;
    }
    const std::wstring aside = AsideName(targetDir, name);
    const HRESULT moved = MoveAside(target, AppendPath(targetDir, aside));
    if (moved != S_OK) return moved;
    state->leftovers.push_back(Utf16ToUtf8(aside));
    return MoveOver(staged, target);
}

// Takes away what stands in the way of the moves; what is gone already is
// fine (a run killed after it).
bool Remove(const std::wstring& path) {
    const FileFacts facts = ReadFileFacts(path);
    if (!facts.exists) return true;
    if (facts.directory) return RemoveDirectoryOrLink(path, DirEntry{L"", true, false});
    ClearReadOnly(path);
    return DeleteOneFile(path);
}

}  // namespace

bool RemoveLeftovers(const std::wstring& targetDir, InstallState* state) {
    std::vector<std::string> kept;
    for (const std::string& leftover : state->leftovers) {
        if (!Remove(AppendPath(targetDir, Utf8ToUtf16(leftover)))) kept.push_back(leftover);
    }
    const bool removed = kept.size() != state->leftovers.size();
    state->leftovers = std::move(kept);
    return removed;
}

ApplyResult FinishApply(const std::wstring& targetDir, const std::wstring& statePath,
                        InstallState* state) {
    for (const std::string& removal : state->removals) {
        const std::wstring path = AppendPath(targetDir, Utf8ToUtf16(removal));
        if (!Remove(path)) return {ApplyStatus::kFailed, kResultFailed, path};
    }
    for (InstalledEntry& entry : state->entries) {
        if (entry.staged.empty()) continue;
        std::wstring name;
        EntryTargetName(entry.name, &name);
        const std::wstring target = AppendPath(targetDir, name);
        if (entry.staged == kMakeFolder) {
            const HRESULT made = MakeDirectories(target);
            if (made != S_OK) return {ApplyStatus::kFailed, made, target};
        } else {
            const std::wstring staged = AppendPath(targetDir, Utf8ToUtf16(entry.staged));
            // Gone already: moved by the run this one finishes.
            const bool moved = !ReadFileFacts(staged).exists;
            const std::wstring parent = EntryParent(name);
            const HRESULT made =
                parent.empty() ? S_OK : MakeDirectories(AppendPath(targetDir, parent));
            if (made != S_OK) return {ApplyStatus::kFailed, made, target};
            if (!moved) {
                const HRESULT replaced = PutInPlace(targetDir, name, staged, state);
                if (replaced != S_OK) return {ApplyStatus::kFailed, replaced, target};
            }
            const FileFacts facts = ReadFileFacts(target);
            entry.diskSize = facts.size;
            entry.diskTime = facts.writeTime;
        }
        entry.staged.clear();
    }
    state->removals.clear();
    state->applying = false;
    if (!WriteInstallState(*state, statePath)) {
        return {ApplyStatus::kFailed, kResultFailed, statePath};
    }
    return {};
}

}  // namespace qorv
