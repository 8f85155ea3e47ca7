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

// The target path stored in the shell link at linkPath; false when the link
// cannot be read or holds no path.
bool ReadShortcutTarget(const std::wstring& linkPath, std::wstring* target);

}  // namespace qorv
