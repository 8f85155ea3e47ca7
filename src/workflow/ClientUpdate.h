// The incremental client update: only the entries that changed since the
// last install are fetched, by HTTP ranges, into a sparse local copy of the
// package that the ordinary unpack then reads.
#pragma once

#include <urlmon.h>

#include <string>
#include <vector>

#include "workflow/PackageDirectory.h"

namespace qorv {

// The entries of the record at recordPath; false when there is none or it
// cannot be read as a directory.
bool ReadInstallRecord(const std::wstring& recordPath, std::vector<PackageEntry>* entries);

// The bytes of the package at archivePath from its central directory to its
// end, the record of what installing it puts on disk; empty when they cannot
// be read.
std::vector<unsigned char> PackageRecord(const std::wstring& archivePath);

// Writes record to newPath and moves it to recordPath; false on a failure,
// which leaves no record behind.
bool KeepInstallRecord(const std::vector<unsigned char>& record, const std::wstring& newPath,
                       const std::wstring& recordPath);

// Fetches the tail and the central directory of the package at url and, for
// each entry that differs from installed or whose file under clientDir is
// missing or of another size, its local header and data, all written at
// their offsets into archivePath. changed gets, per entry of the new
// package, whether it must be extracted. False, with nothing left at
// archivePath, when the update cannot go this way: an answer other than the
// range asked for (the file changed, or the server ignores ranges), a failed
// request, an unreadable or oversized directory, one the zip layer reads
// otherwise, no entry that differs, or changed entries costing more than
// about half the package.
bool FetchChangedEntries(const wchar_t* url, const std::vector<PackageEntry>& installed,
                         const std::wstring& clientDir, const std::wstring& archivePath,
                         IBindStatusCallback* callback, std::vector<bool>* changed);

}  // namespace qorv
