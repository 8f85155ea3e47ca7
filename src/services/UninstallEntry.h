// The current user's uninstall entry for the installation.
#pragma once

#include <string>

namespace qorv {

// Writes the five values of the uninstall key under HKEY_CURRENT_USER.
// Every failure is silent; a value that fails is skipped.
void WriteUninstallEntry(std::wstring programPath, std::wstring installDirectory);

// True when the uninstall key is there (and may be read).
bool HasUninstallEntry();

// Deletes the uninstall key with all its values: ERROR_SUCCESS when it was
// there and is gone, ERROR_FILE_NOT_FOUND when there was none, else the
// registry's error.
long RemoveUninstallEntry();

}  // namespace qorv
