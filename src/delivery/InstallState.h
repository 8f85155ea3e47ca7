// What a package installed: one state file per package, the only record of
// it. It names the package (the version text it was installed for and the
// digest of its central directory) and, per entry, what the package said
// and what extraction left on disk. It is written whole or not at all, and a
// state marked as applying names files that wait beside their targets to be
// moved over them (a run killed while it moved them).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "services/Sha256.h"

namespace qorv {

// An entry as installed.
struct InstalledEntry {
    std::string name;  // the stored name's bytes
    uint32_t crc = 0;
    uint64_t size = 0;        // uncompressed
    uint32_t attributes = 0;  // the Windows attributes extraction gives it
    // What extraction left at the target: its size and last-write time
    // (100-ns intervals since 1601-01-01 UTC), read back after the move.
    uint64_t diskSize = 0;
    uint64_t diskTime = 0;
    // While the state is applying: the file that waits to be moved over the
    // target, relative to the install folder as UTF-8, or kMakeFolder.
    std::string staged;
};

// InstalledEntry::staged of a folder entry still to be made.
constexpr char kMakeFolder[] = "/";

struct InstallState {
    // The version text the package was installed for, as UTF-8; empty for a
    // package that has none (the shell).
    std::string version;
    // The SHA-256 of the package's central directory and end records.
    Sha256Digest directory{};
    // The entries' staged files are still to be moved over their targets.
    bool applying = false;
    std::vector<InstalledEntry> entries;
    // While applying: files of the previous package, relative to the install
    // folder as UTF-8, that stand where the new package puts a folder or a
    // file of another kind; removed before the moves.
    std::vector<std::string> removals;
    // Files a run moved aside because they could not be replaced (a running
    // game's program), relative to the install folder as UTF-8: each later
    // run deletes those it can.
    std::vector<std::string> leftovers;
};

// Reads the state at path; false when there is none or it does not read
// whole (a state file is never half-written, so that means no state).
bool ReadInstallState(const std::wstring& path, InstallState* state);

// Writes state beside path, flushed, and moves it over path.
[[nodiscard]] bool WriteInstallState(const InstallState& state, const std::wstring& path);

}  // namespace qorv
