// The login token carried by the installer's own file name.
#pragma once

#include <string>

namespace qorv {

// From the full path of the running executable: the base name (the file name
// before its last ".", empty without one) split at "-"; exactly three pieces
// make the third *token. Returns false, leaving *token alone, otherwise.
bool ParseInstallerName(const std::wstring& modulePath, std::wstring* token);

}  // namespace qorv
