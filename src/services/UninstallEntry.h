// The current user's uninstall entry for the installation.
#pragma once

#include <string>

// Writes the five values of the uninstall key under HKEY_CURRENT_USER.
// Every failure is silent; a value that fails is skipped.
void WriteUninstallEntry(std::wstring programPath, std::wstring installDirectory);
