// Stage 1: bring the shell package in line, write the shortcut and the
// uninstall entry, then go on to the version check (token) or start the
// shell program.
// A worker-thread procedure: takes the MainView, returns 0, and as its last
// action starts the next stage on a new worker or calls MainView::LaunchGame.
#pragma once

#include <windows.h>

namespace qorv {

UINT __cdecl DownloadShellProc(LPVOID param);

}  // namespace qorv
