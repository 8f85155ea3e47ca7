#include "services/WorkerThread.h"

#include <process.h>

namespace qorv {

namespace {

struct WorkerStart {
    WorkerProc proc;
    LPVOID param;
};

unsigned __stdcall RunWorker(void* arg) {
    WorkerStart start = *static_cast<WorkerStart*>(arg);
    delete static_cast<WorkerStart*>(arg);
    return start.proc(start.param);
}

}  // namespace

HRESULT StartWorkerThread(WorkerProc proc, LPVOID param) {
    auto* start = new WorkerStart{proc, param};
    // _beginthreadex rather than CreateThread: the workers use the C runtime.
    uintptr_t thread = _beginthreadex(nullptr, 0, RunWorker, start, 0, nullptr);
    if (thread == 0) {
        const HRESULT failed = HRESULT_FROM_WIN32(GetLastError());
        delete start;
        return failed;
    }
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return S_OK;
}

}  // namespace qorv
