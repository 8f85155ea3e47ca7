// Starts a worker thread: normal priority, default stack, running at once,
// default security. Nobody waits for or joins it.
#pragma once

#include <windows.h>

using WorkerProc = UINT(__cdecl*)(LPVOID);

bool StartWorkerThread(WorkerProc proc, LPVOID param);
