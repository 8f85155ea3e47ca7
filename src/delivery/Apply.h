// Putting a package's entries in place in two phases. First every entry to
// extract is written whole beside its target (in the nearest folder that
// exists, so on the target's volume) and checked, and every target is
// confirmed replaceable; a failure there leaves the installed files exactly
// as they were and keeps what was staged for the retry. Then the state is
// written as applying, every staged file is moved over its target in one
// pass, and the state is committed: a run killed during the moves is
// finished by the next one from the state file.
#pragma once

#include <string>
#include <vector>

#include "delivery/EntryPlan.h"
#include "delivery/InstallState.h"
#include "services/Hresult.h"
#include "services/zip/PackageDirectory.h"

namespace qorv {

struct ApplyRequest {
    std::wstring archivePath;  // the whole package or its sparse copy
    std::wstring targetDir;
    std::wstring statePath;
    const std::vector<PackageEntry>* entries = nullptr;
    const std::vector<EntryPlan>* plans = nullptr;  // one per entry
    const InstallState* installed = nullptr;        // the previous package's; may be null
    // Each staged entry is checked against the SHA-256 its record carries.
    bool checkEntryDigests = false;
};

enum class ApplyStatus {
    kApplied,   // every entry in place, the state committed
    kBadBytes,  // an entry's bytes proved wrong (traced); nothing changed
    kFailed,    // a file could not be written, replaced or moved (traced)
};

struct ApplyResult {
    ApplyStatus status = ApplyStatus::kApplied;
    HRESULT error = S_OK;
    std::wstring path;  // the file that failed
    // With kResultDiskFull: the bytes the staged entries take.
    uint64_t bytesNeeded = 0;
};

// S_OK when the drive of targetDir has room for bytes more; else the trace
// names the shortage and the result is kResultDiskFull (or why the room
// could not be told, which then does not stop anything).
[[nodiscard]] HRESULT CheckRoom(const std::wstring& targetDir, uint64_t bytes);

// Both phases; next holds the package's identity (version, directory) and
// receives its entries.
[[nodiscard]] ApplyResult ApplyPackage(const ApplyRequest& request, InstallState* next);

// Deletes the files the state's runs moved aside that nobody holds any more;
// true when it deleted one (the state then needs writing).
bool RemoveLeftovers(const std::wstring& targetDir, InstallState* state);

// The second phase for a state that is applying, also one a killed run left.
[[nodiscard]] ApplyResult FinishApply(const std::wstring& targetDir, const std::wstring& statePath,
                                      InstallState* state);

}  // namespace qorv
