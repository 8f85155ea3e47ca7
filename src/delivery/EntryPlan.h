// Which entries of a package a delivery extracts, judged against what the
// package's install state says was installed and what the disk holds now.
#pragma once

#include <string>
#include <vector>

#include "delivery/InstallState.h"
#include "services/zip/PackageDirectory.h"

namespace qorv {

// Which entries of a package a delivery extracts.
enum class RepairRule {
    // Each entry that differs from the installed one or whose file is not as
    // extraction left it (the shell).
    kReplaceChanged,
    // A new version: each entry that differs from the installed one or whose
    // file is missing or of another size than extraction left (the client).
    kNewVersion,
    // The same version: only entries whose file is missing. A file that is
    // there stays, whatever it holds: the game may rewrite files it was
    // shipped with (the client).
    kRestoreMissing,
};

enum class EntryAction {
    kKeep,      // installed as it is
    kExtract,   // written anew
    kShadowed,  // a later entry names the same file: never extracted
};

struct EntryPlan {
    EntryAction action = EntryAction::kExtract;
    // The entry as installed before, matched by its file; null when none.
    const InstalledEntry* installed = nullptr;
};

// The name an entry is extracted under, relative to the install folder:
// decoded and cleaned as the zip layer does. False for a name it refuses.
bool EntryTargetName(const std::string& stored, std::wstring* name);

// The folder part of a relative name, without its last separator; empty for
// a name at the top.
std::wstring EntryParent(const std::wstring& name);

// The same file on Windows: separators and letter case folded, trailing
// separators dropped. Empty for a refused name.
std::wstring EntryFileKey(const std::string& stored);

// True for a folder entry: by its attributes or, as some tools mark it, by a
// trailing separator.
bool IsFolderEntry(const PackageEntry& entry);

// The Windows attributes extraction gives entry.
uint32_t EntryAttributes(const PackageEntry& entry);

// True when what was installed for entry is still at its target as the
// rule asks.
bool StillInstalled(const std::wstring& targetDir, const InstalledEntry& installed,
                    RepairRule rule);

// One plan per entry. Of several entries naming one file the last one
// counts, as extracting them all in order would leave it; an entry is kept
// when installed (state may be null: nothing is) and the rule allows.
std::vector<EntryPlan> PlanEntries(const std::vector<PackageEntry>& entries,
                                   const InstallState* installed, const std::wstring& targetDir,
                                   RepairRule rule);

// The bytes the entries plans extract take once written.
uint64_t ExtractedBytes(const std::vector<PackageEntry>& entries,
                        const std::vector<EntryPlan>& plans);

// True when a file of the state at statePath is missing under targetDir;
// false also when there is no state to tell.
bool InstalledFileMissing(const std::wstring& statePath, const std::wstring& targetDir);

}  // namespace qorv
