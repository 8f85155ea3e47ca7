// The per-user install directory.
#pragma once

#include <string>

namespace qorv {

// The local (not roaming) application-data folder followed by
// "tovrine\qorv\"; it ends in a backslash. When the folder query fails the
// result is the relative "tovrine\qorv\". Nothing is created here.
std::wstring InstallDirectory();

}  // namespace qorv
