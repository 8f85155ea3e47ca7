// The application object: one global instance whose start-up routine runs
// the host window modally and then lets the process end.
#pragma once

#include <windows.h>

namespace qorv {

class CQorvInstallApp {
public:
    CQorvInstallApp() = default;
    CQorvInstallApp(const CQorvInstallApp&) = delete;
    CQorvInstallApp& operator=(const CQorvInstallApp&) = delete;

    // Runs the host window until it closes; always FALSE, so no message loop
    // of the application's own follows.
    BOOL InitInstance();
};

extern CQorvInstallApp theApp;

}  // namespace qorv
