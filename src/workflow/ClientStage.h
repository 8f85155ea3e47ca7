// Stage 3: bring the game client in line with its package, then launch.
// A worker-thread procedure: takes the MainView, returns 0, and as its last
// action starts the next stage on a new worker or calls MainView::LaunchGame.
#pragma once

#include <windows.h>

namespace qorv {

UINT __cdecl DownloadClientProc(LPVOID param);

}  // namespace qorv
