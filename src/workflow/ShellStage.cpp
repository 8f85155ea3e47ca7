// Stage 1: install the shell package, the shortcut and the uninstall entry,
// then go on to the version check (token) or start the shell program.
#include <windows.h>
#include <shlwapi.h>

#include <string>

#include "Constants.h"
#include "services/Shortcut.h"
#include "services/UninstallEntry.h"
#include "view/MainView.h"
#include "workflow/BindCallback.h"
#include "workflow/ClosingStep.h"
#include "workflow/FileOps.h"
#include "workflow/InstallDirectory.h"
#include "workflow/InstallerName.h"
#include "workflow/LoginAnswer.h"
#include "workflow/PackageDownload.h"
#include "workflow/ResourceString.h"
#include "workflow/Stages.h"
#include "workflow/Trace.h"
#include "workflow/Unpack.h"
#include "workflow/WorkerThread.h"

using namespace qorv;

UINT __cdecl DownloadShellProc(LPVOID param) {
    auto* view = static_cast<MainView*>(param);
    CBindCallback callback(view);
    const std::wstring baseUrl = LoadResourceString(kIdsResourceBaseUrl);
    const std::wstring installDir = AppendPath(L"", view->m_strInstallDir);
    EnsureDirectory(installDir);
    const std::wstring archivePath = AppendPath(installDir, kShellPackageFile);
    const std::wstring url = PackageUrl(baseUrl, kShellPackagePath, GetTickCount());

    view->m_nLoadingStep.store(1, std::memory_order_relaxed);
    const HRESULT downloaded = DownloadToFile(url.c_str(), archivePath.c_str(), &callback);
    if (downloaded != S_OK) {
        view->StageFailed("shell", url, downloaded);
        return 0;
    }
    TraceLog(kTraceDownloadDone);

    if (!UnpackPackage(archivePath.c_str(), installDir.c_str())) {
        view->InstallFailed();
        return 0;
    }

    wchar_t modulePath[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, modulePath, MAX_PATH + 1);
    std::wstring token;
    const bool hasToken = ParseInstallerName(modulePath, token);
    if (hasToken) {
        // Written before stage 2 starts; the thread start orders it before
        // every later read.
        view->m_strToken = token;
        view->m_strPlatform = kPlatform;
    }

    const std::wstring shellProgram = AppendPath(view->m_strInstallDir, kShellProgram);
    CreateDesktopShortcut(shellProgram, kShortcutFile, kPlatform);
    WriteUninstallEntry(shellProgram, installDir);

    if (hasToken) {
        StartWorkerThread(CheckVersionProc, view);
        return 0;
    }
    // Quoted, so a profile path with a space cannot start another program.
    if (!view->StartInstalledProgram(ShellCommandLine(view->m_strInstallDir, kPlatform))) return 0;
    TraceLog(kTraceStartShell);
    RunClosingStep(view);
    return 0;
}
