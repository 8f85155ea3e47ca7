// The login token carried by the installer's own file name.
#pragma once

#include <string>
#include <vector>

namespace qorv {

// Splits text at every occurrence of delimiter and appends the non-empty
// pieces, in order; an empty delimiter leaves the text whole.
void SplitString(const std::wstring& text, const std::wstring& delimiter,
                 std::vector<std::wstring>& pieces);

// From the full path of the running executable: the base name (the file name
// before its last ".", empty without one) split at "-"; exactly three pieces
// make the third the token. Returns false, leaving token alone, otherwise.
bool ParseInstallerName(const std::wstring& modulePath, std::wstring& token);

}  // namespace qorv
