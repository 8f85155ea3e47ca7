// The desktop shortcut to the installed shell program.
#pragma once

#include <string>

namespace qorv {

// Saves linkFileName in the current user's desktop folder as a shell link to
// target with arguments. Every failure is silent.
void CreateDesktopShortcut(std::wstring target, std::wstring linkFileName, std::wstring arguments);

// linkFileName in the current user's desktop folder; empty when there is no
// desktop folder.
std::wstring DesktopLinkPath(const std::wstring& linkFileName);

// The exact target path stored in the shell link at linkPath, from its item
// list; false when the link cannot be read or names no file-system item.
bool ReadShortcutTarget(const std::wstring& linkPath, std::wstring* target);

}  // namespace qorv
