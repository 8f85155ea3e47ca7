// The uninstaller's exit codes, for scripts that run it with "/S".
#pragma once

namespace qorv {

constexpr int kExitRemoved = 0;    // everything gone, or there was nothing to remove
constexpr int kExitLeftSome = 1;   // something could not be removed and was left
constexpr int kExitRunning = 2;    // the game or an installer runs: nothing removed
constexpr int kExitRefused = 3;    // no install directory under the local app-data folder
constexpr int kExitCancelled = 4;  // the player answered no

}  // namespace qorv
