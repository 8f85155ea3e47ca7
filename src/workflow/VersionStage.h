// Stage 2: compare the server's package version file with the local one,
// then go on to the client stage (a new version, or client files missing)
// or launch.
// A worker-thread procedure: takes the MainView, returns 0, and as its last
// action starts the next stage on a new worker or calls MainView::LaunchGame.
#pragma once

#include <windows.h>

namespace qorv {

UINT __cdecl CheckVersionProc(LPVOID param);

}  // namespace qorv
