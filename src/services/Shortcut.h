// The desktop shortcut to the installed shell program.
#pragma once

#include <string>

// Saves linkFileName in the current user's desktop folder as a shell link to
// target with arguments. Every failure is silent.
void CreateDesktopShortcut(std::wstring target, std::wstring linkFileName, std::wstring arguments);
