// The installer's marks outside the install directory: the desktop shortcut
// and the uninstall entry.
#pragma once

#include "uninstall/Removal.h"

namespace qorv {

// True when the desktop shortcut is there and points into the install
// directory: the installer's, not one the player pointed elsewhere.
bool IsOurShortcut(const Removal& removal);

// Deletes the desktop shortcut when it is ours; one the player pointed
// elsewhere is kept.
void RemoveShortcut(Removal* removal);

// Deletes the uninstall entry.
void RemoveEntry(Removal* removal);

}  // namespace qorv
