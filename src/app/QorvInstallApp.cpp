#include "app/QorvInstallApp.h"

#include <commctrl.h>

#include "app/QorvInstallDlg.h"

CQorvInstallApp theApp;

CDialogEx* AppMainWindow() {
    return theApp.m_pMainWnd;
}

BOOL CQorvInstallApp::InitInstance() {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);

    // Restart only: no recovery callback, autosave or reopened files.
    RegisterApplicationRestart(nullptr, 0);

    CQorvInstallDlg dialog;
    m_pMainWnd = &dialog;
    dialog.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The process ends when the host closes, taking any worker with it.
    theApp.InitInstance();
    return 0;
}
