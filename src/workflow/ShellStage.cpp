#include "workflow/ShellStage.h"

#include <windows.h>

#include <string>

#include "InstallNames.h"
#include "ResourceIds.h"
#include "TraceTexts.h"
#include "delivery/Delivery.h"
#include "delivery/RecordTakeOver.h"
#include "delivery/WinInetTransport.h"
#include "services/FileSystem.h"
#include "services/ResourceString.h"
#include "services/Shortcut.h"
#include "services/SystemPath.h"
#include "services/Trace.h"
#include "services/UninstallEntry.h"
#include "view/MainView.h"
#include "workflow/BindCallback.h"
#include "workflow/ClosingStep.h"
#include "workflow/FailureText.h"
#include "workflow/InstallerName.h"
#include "workflow/LoginAnswer.h"
#include "workflow/RequestUrl.h"
#include "workflow/VersionStage.h"

namespace qorv {

namespace {

// "Download finished" once the shell's bytes are on disk, before the unpack.
class ShellObserver : public StageObserver {
public:
    using StageObserver::StageObserver;
    void Fetched(const FetchSummary&) override { TraceLog(kTraceDownloadDone); }
};

}  // namespace

UINT __cdecl DownloadShellProc(LPVOID param) {
    auto* view = static_cast<MainView*>(param);
    CBindCallback callback(view);
    const std::wstring& installDir = view->m_strInstallDir;
    PackageDelivery shell;
    shell.url =
        PackageUrl(LoadResourceString(kIdsResourceBaseUrl), kShellPackagePath, GetTickCount());
    shell.copyPath = AppendPath(installDir, kShellPackageFile);
    shell.targetDir = installDir;
    shell.statePath = AppendPath(installDir, kShellStateFile);
    shell.rule = RepairRule::kReplaceChanged;

    view->m_nLoadingStep.store(1, std::memory_order_relaxed);
    // The package is downloaded into the install directory: no folder, no
    // download.
    const HRESULT made = MakeDirectories(installDir);
    if (made != S_OK) {
        view->StageFailed("shell", installDir, made);
        return 0;
    }
    TakeOverRecord(AppendPath(installDir, kShellRecordFile), shell.statePath, installDir,
                   std::string());
    WinInetTransport transport;
    ShellObserver observer(&callback);
    const DeliveryResult delivered = DeliverPackage(shell, transport, observer);
    if (delivered.status == DeliveryStatus::kDownloadFailed) {
        view->StageFailed("shell", shell.url, delivered.error);
        return 0;
    }
    if (delivered.status != DeliveryStatus::kInLine) {
        view->InstallFailed(DeliveryFailureText(delivered));
        return 0;
    }

    const std::wstring modulePath = GrowingPath([](wchar_t* buffer, DWORD capacity) {
        return GetModuleFileNameW(nullptr, buffer, capacity);
    });
    std::wstring token;
    const bool hasToken = ParseInstallerName(modulePath, &token);
    if (hasToken) {
        // Written before stage 2 starts; the thread start orders it before
        // every later read.
        view->m_strToken = token;
        view->m_strPlatform = kPlatform;
    }

    const std::wstring shellProgram = AppendPath(installDir, kShellProgram);
    CreateDesktopShortcut(shellProgram, kShortcutFile, kPlatform);
    WriteUninstallEntry(shellProgram, installDir);

    if (hasToken) {
        view->StartStage(CheckVersionProc, L"CheckVersionProc");
        return 0;
    }
    // Quoted, so a profile path with a space cannot start another program.
    if (!view->StartInstalledProgram(ShellCommandLine(installDir, kPlatform))) return 0;
    TraceLog(kTraceStartShell);
    RunClosingStep(view);
    return 0;
}

}  // namespace qorv
