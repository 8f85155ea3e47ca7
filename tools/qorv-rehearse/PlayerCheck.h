// Whether a player's install folder came out exactly right.
#pragma once

#include <string>

namespace qorv {

// Every file under expectedDir (an install folder as it should be: the
// shell's files, GameClient\ and pkg.ver) is in installDir with the same
// bytes. Empty when so, else what differs first.
std::string DiffersFromExpected(const std::string& expectedDir, const std::string& installDir);

// Without an expected folder: every file the packages' install states name is
// there with its entry's size and CRC-32, and the player's version is
// servedVersion. Empty when so, else what differs first.
std::string DiffersFromStates(const std::wstring& installDir, const std::string& servedVersion);

}  // namespace qorv
