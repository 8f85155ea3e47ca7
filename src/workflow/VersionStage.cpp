#include "workflow/VersionStage.h"

#include <windows.h>

#include <string>

#include "InstallNames.h"
#include "ResourceIds.h"
#include "TraceTexts.h"
#include "delivery/Apply.h"
#include "delivery/DownloadToFile.h"
#include "delivery/EntryPlan.h"
#include "delivery/InstallState.h"
#include "delivery/RecordTakeOver.h"
#include "services/FileSystem.h"
#include "services/LocalFile.h"
#include "services/ResourceString.h"
#include "services/TextFile.h"
#include "services/Trace.h"
#include "view/MainView.h"
#include "workflow/BindCallback.h"
#include "workflow/ClientStage.h"
#include "workflow/RequestUrl.h"

namespace qorv {

UINT __cdecl CheckVersionProc(LPVOID param) {
    auto* view = static_cast<MainView*>(param);
    CBindCallback callback(view);
    const std::wstring url =
        PackageUrl(LoadResourceString(kIdsResourceBaseUrl), kVersionFilePath, GetTickCount());
    const std::wstring localPath = AppendPath(view->m_strInstallDir, kVersionFile);
    // The server copy waits beside the local one: "pkg.ver" changes only once
    // the client it names is installed, so a failed update is retried.
    const std::wstring newPath = AppendPath(view->m_strInstallDir, kNewVersionFile);
    const std::wstring installDir = view->m_strInstallDir;
    const std::wstring statePath = AppendPath(installDir, kClientStateFile);
    const std::wstring clientDir = AppendPath(installDir, kClientSubdir);
    // The version file is the installed client's as its state tells: the
    // client stage commits the two in one write, and a run killed before
    // the file followed has it made here.
    std::vector<unsigned char> localBytes;
    ReadWholeFile(localPath, kMaxTextFileBytes, &localBytes);
    TakeOverRecord(AppendPath(installDir, kClientRecordFile), statePath, clientDir,
                   std::string(localBytes.begin(), localBytes.end()));
    InstallState state;
    const bool installed = ReadInstallState(statePath, &state);
    if (installed && !state.applying &&
        state.version != std::string(localBytes.begin(), localBytes.end()) &&
        !KeepFile(std::vector<unsigned char>(state.version.begin(), state.version.end()), newPath,
                  localPath)) {
        TraceLog(kTraceVersionNotKept);
    }
    // A game program an update moved aside while it ran goes once it ended,
    // also when no update follows. One that cannot go yet waits its turn.
    if (installed && !state.applying && RemoveLeftovers(clientDir, &state)) {
        static_cast<void>(WriteInstallState(state, statePath));
    }
    const std::wstring oldText = ReadTextFile(localPath);

    view->m_nLoadingStep.store(2, std::memory_order_relaxed);
    StageObserver observer(&callback);
    HRESULT downloaded = DownloadToFile(url.c_str(), newPath.c_str(), kMaxTextFileBytes, observer);
    if (downloaded == S_OK && !PathExists(newPath)) {
        downloaded = kResultFileNotFound;
    }
    if (downloaded != S_OK) {
        view->StageFailed("version", url, downloaded);
        return 0;
    }
    const std::wstring newText = ReadTextFile(newPath);

    // Moves a killed run left waiting are finished by the client stage.
    if (newText != oldText || (installed && state.applying)) {
        view->StartStage(DownloadClientProc, L"DownloadClientProc");
        return 0;
    }
    DeleteOneFile(newPath);
    // Files the client's record holds but the disk lost (a quarantine, a
    // player's mistake) come back; with nothing missing nothing is fetched.
    if (InstalledFileMissing(statePath, clientDir)) {
        view->m_restoreOnly = true;
        view->StartStage(DownloadClientProc, L"DownloadClientProc");
        return 0;
    }
    view->LaunchGame();
    return 0;
}

}  // namespace qorv
