#include "app/QorvInstallApp.h"

#include <commctrl.h>

#include "InstallNames.h"
#include "TraceTexts.h"
#include "app/QorvInstallDlg.h"
#include "services/Trace.h"
#include "services/UniqueHandle.h"

namespace qorv {

CQorvInstallApp theApp;

namespace {

BOOL CALLBACK BringHostToFront(HWND window, LPARAM) {
    if (GetPropW(window, kHostWindowProperty) == nullptr) return TRUE;
    SetForegroundWindow(window);
    return FALSE;
}

}  // namespace

BOOL CQorvInstallApp::InitInstance() {
    // One installer at a time per session: two would delete and extract the
    // same files. A second one shows the first and ends before touching
    // anything. A mutex that cannot be created or opened (an elevated
    // installer holds it, another kind of object has its name) may well be
    // another installer's, so that counts as one running too.
    const KernelHandle instance(CreateMutexW(nullptr, FALSE, kInstanceMutexName));
    const DWORD error = GetLastError();
    if (!instance.IsValid() || error == ERROR_ALREADY_EXISTS) {
        if (!instance.IsValid()) TraceLog(kTraceAnotherInstaller, error);
        EnumWindows(BringHostToFront, 0);
        return FALSE;
    }

    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);

    // Restart only: no recovery callback, autosave or reopened files.
    RegisterApplicationRestart(nullptr, 0);

    CQorvInstallDlg dialog;
    dialog.DoModal();
    return FALSE;
}

}  // namespace qorv

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The process ends when the host closes, taking any worker with it.
    qorv::theApp.InitInstance();
    return 0;
}
