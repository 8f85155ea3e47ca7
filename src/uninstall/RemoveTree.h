// Removing a folder with everything under it, for the uninstaller.
#pragma once

#include <string>
#include <vector>

namespace qorv {

// Removes directory and everything under it. A junction or symbolic link found
// inside is removed itself and never followed, so nothing outside directory is
// touched. Each path that cannot be removed is appended to failed and left
// while the rest goes on; a folder that stays only because something in it
// stayed is not listed again. True when directory is gone.
bool RemoveTree(const std::wstring& directory, std::vector<std::wstring>* failed);

}  // namespace qorv
