// Starts a worker thread: normal priority, default stack, running at once,
// default security. Nobody waits for or joins it.
#pragma once

#include <windows.h>

namespace qorv {

using WorkerProc = UINT(__cdecl*)(LPVOID);

// S_OK, or what kept the thread from being created.
[[nodiscard]] HRESULT StartWorkerThread(WorkerProc proc, LPVOID param);

}  // namespace qorv
