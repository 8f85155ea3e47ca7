// The current user's uninstall entry for the installation.
#pragma once

#include <string>

#include "services/Hresult.h"

namespace qorv {

// Writes the five values of the uninstall key under HKEY_CURRENT_USER.
// Every failure is silent; a value that fails is skipped.
void WriteUninstallEntry(std::wstring programPath, std::wstring installDirectory);

// True when the uninstall key is there (and may be read).
bool HasUninstallEntry();

// Deletes the uninstall key with all its values: S_OK when it was there and
// is gone, kResultFileNotFound when there was none, else the registry's error.
[[nodiscard]] HRESULT RemoveUninstallEntry();

}  // namespace qorv
