// The record of what a package put on disk: the package's central directory
// and end records, kept beside the install after a delivery in which every
// entry extracted, and the look at an installed file that it allows.
#pragma once

#include <string>
#include <vector>

#include "delivery/LocalFile.h"
#include "services/zip/PackageDirectory.h"

namespace qorv {

// A directory larger than this is no package's: the record is refused.
constexpr uint64_t kMaxDirectoryBytes = 64ull * 1024 * 1024;

// The entries of the record at path; false when there is none or it does
// not read as a directory.
bool ReadRecord(const std::wstring& path, std::vector<PackageEntry>* entries);

// The record of the package (whole or a sparse copy) open in file: its bytes
// from the central directory to the end. False when the end records are not
// there or the directory does not end where they begin (offsets counted
// from elsewhere would fetch the wrong data).
bool RecordOfPackage(LocalFile& file, std::vector<unsigned char>* record);

// Writes record beside path (path + ".new"), flushed, and moves it into
// place: a run killed meanwhile leaves the old record or the new one.
[[nodiscard]] bool KeepRecord(const std::vector<unsigned char>& record, const std::wstring& path);

// How closely an installed file must match its entry.
enum class InstalledCheck {
    kExists,  // there (a folder for a folder entry)
    kSize,    // there, with the entry's size
    kExact,   // there, with its size and the last-write time extraction set
};

// True when what entry put under targetDir is still there as check asks. A
// name the zip layer would refuse is never installed.
bool IsInstalled(const std::wstring& targetDir, const PackageEntry& entry, InstalledCheck check);

// True when a file of the record at recordPath is missing under targetDir;
// false also when there is no record to tell.
bool RecordedFileMissing(const std::wstring& recordPath, const std::wstring& targetDir);

}  // namespace qorv
