// Removing what the installer made on disk: the install directory (or the
// link that stands for it), the uninstaller's own program moved out of it,
// and the parent folder when that is left empty.
#pragma once

#include <windows.h>

#include <string>

namespace qorv {

// What one run removes, and what it has found so far.
struct Removal {
    std::wstring installDir;  // ends in a backslash
    std::wstring parent;      // the install directory's, ends in a backslash
    std::wstring link;        // the desktop shortcut's path; empty without a desktop
    bool linkIsOurs = false;  // the shortcut points into the install directory
    bool leftSome = false;
    std::wstring movedCaller;  // the first process's program, moved out, to delete
};

// The install directory, its parent and the desktop shortcut of this user.
Removal StartRemoval();

// One line of the trace: text, then path.
void TraceItem(const char* text, const std::wstring& path);

// Traces path as not removed and notes that something was left.
void Failed(Removal* removal, const std::wstring& path);

// The install directory's parent or the directory itself when it is a
// junction or symbolic link, the parent first (the install directory then
// lies behind it); empty when both are real folders or absent.
std::wstring LinkInPlace(const Removal& removal);

// Moves a running program's file, which cannot be deleted but can be
// renamed, out of the folder being removed; the new path, empty when it
// stays.
std::wstring MoveOut(Removal* removal, const std::wstring& image);

// True when the install directory is gone (or was never there).
bool RemoveInstallDirectory(Removal* removal);

// Removes link, which stands in place of the install directory or its
// parent; true when it is gone.
bool RemoveLink(Removal* removal, const std::wstring& link);

// Removes the install directory's parent when it is empty.
void RemoveEmptyParent(const Removal& removal);

// Deletes the caller's program, moved out of the install directory, once
// the caller has ended; and the parent, when the program was moved there.
void DeleteMovedCaller(const Removal& removal, HANDLE caller);

}  // namespace qorv
