// The worker-thread procedures of the install workflow. Each takes the
// MainView as its parameter, returns 0, and as its last action starts the
// next stage on a new worker or calls MainView::LaunchGame.
#pragma once

#include <windows.h>

UINT __cdecl DownloadShellProc(LPVOID param);
UINT __cdecl CheckVersionProc(LPVOID param);
UINT __cdecl DownloadClientProc(LPVOID param);
