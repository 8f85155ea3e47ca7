// The file system by path, over wide paths on every build: the one join of
// a folder and a name, and the calls the stages, delivery, the zip layer and
// the uninstaller's walk make, so their loops are the same code on every
// build. The POSIX build encodes paths as UTF-8 and takes "\" for "/", and
// the owner's write bit for the read-only attribute. The open file
// (LocalFile.h) and the file written whole or not at all (TargetFile.h)
// complete the file layer; every platform call of the three is in
// FileSystemWin.cpp or FileSystemPosix.cpp, and failures there are given as
// Windows gives them (POSIX errors mapped where the two agree).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "services/Hresult.h"

namespace qorv {

// The longest path the installer builds, terminator excluded: what Windows
// takes in the extended-length form (32767 characters with the terminator),
// less that form's longest prefix ("\\?\UNC\" for the two leading "\").
constexpr size_t kMaxPathChars = 32760;

// directory joined with name, literally: a "\" between them unless directory
// is empty or already ends in a separator. name is never interpreted, so a
// component such as "..x" or "..." stays an ordinary name (the shell's path
// functions would read "..x" as the parent folder). Empty when the result
// would need more than kMaxPathChars characters; every caller must treat
// that as "no such path", never as the current folder.
std::wstring AppendPath(const std::wstring& directory, const std::wstring& name);

// The process's current folder; empty when it cannot be read.
std::wstring CurrentDirectory();

// Creates one folder; S_OK, or what kept it from being made.
[[nodiscard]] HRESULT MakeOneDirectory(const std::wstring& path);

// Creates every missing folder along path: each level that ends before a
// separator, and path itself unless it ends in one. S_OK when all are there.
[[nodiscard]] HRESULT MakeDirectories(const std::wstring& path);

// True when something (a file or a folder) is at path.
bool PathExists(const std::wstring& path);

// What is at a path, as a check of an installed file needs it.
struct FileFacts {
    bool exists = false;
    bool directory = false;
    uint64_t size = 0;
    uint64_t writeTime = 0;  // 100-ns intervals since 1601-01-01 UTC
};
FileFacts ReadFileFacts(const std::wstring& path);

// Deletes one file (never a folder); false when nothing was deleted. A
// read-only file is not deleted.
bool DeleteOneFile(const std::wstring& path);

// Clears the read-only attribute of an existing file; folders and missing
// paths are left alone.
void ClearReadOnly(const std::wstring& path);

// Moves from over to, replacing it, on the same volume; S_OK, or what kept
// it from moving.
[[nodiscard]] HRESULT MoveOver(const std::wstring& from, const std::wstring& to);

// S_OK when a file at path could be replaced now (or nothing is there):
// nobody holds it without sharing. A running program's image cannot be
// replaced but can be moved aside (MoveAside): S_OK then too, with
// *moveAside set. Folders are not looked at.
[[nodiscard]] HRESULT CheckReplaceable(const std::wstring& path, bool* moveAside);

// The programs holding path open, as the system names them ("a.exe, b.exe");
// empty where it cannot tell. Only for the trace of a file in use.
std::wstring FileHolders(const std::wstring& path);

// The bytes the current user may still write on the drive of path.
[[nodiscard]] HRESULT FreeBytes(const std::wstring& path, uint64_t* bytes);

// Moves the file at path to aside and hides it there: a running program's
// image, which only a rename gets out of the way.
[[nodiscard]] HRESULT MoveAside(const std::wstring& path, const std::wstring& aside);

// Writes what the system holds of the file at path to the disk, so that a
// power cut cannot leave it with its size but without its bytes.
[[nodiscard]] HRESULT FlushFile(const std::wstring& path);

// One entry of a folder listing. A link is a junction or symbolic link (any
// reparse point on Windows): never a place to descend into.
struct DirEntry {
    std::wstring name;
    bool directory = false;
    bool link = false;
};

// The entries of directory without "." and ".."; false when it cannot be
// listed.
bool ListDirectory(const std::wstring& directory, std::vector<DirEntry>* entries);

// Removes an empty folder, or a link itself (never what it points to).
bool RemoveDirectoryOrLink(const std::wstring& path, const DirEntry& entry);

#ifndef _WIN32
// The POSIX path of a wide one: UTF-8, with "\" made "/".
std::string NativePath(const std::wstring& path);

// A power cut, for tests of what one leaves. From this call on the file
// layer notes which files were written since their last flush (a flush is
// noted, not made); after changes more changes (a file created, written,
// flushed, moved or deleted, a folder made; UINT64_MAX: never) every change
// fails unmade, as if the machine had stopped there.
void CutPowerAfter(uint64_t changes);
// False while the power is cut.
bool HasPower();
// Ends the watch, as a machine powered up again: every noted file whose
// latest bytes were not flushed keeps its size and times, its bytes zeroed
// as a disk may leave them; false when one could not be. Moves stay: a
// journal keeps them in order, and a cut at each change covers those it
// loses since the last flush.
[[nodiscard]] bool RestorePower();
#endif

}  // namespace qorv
