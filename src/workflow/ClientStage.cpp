// Stage 3: install the game client package, then launch.
#include <windows.h>

#include <string>
#include <vector>

#include "Constants.h"
#include "view/MainView.h"
#include "workflow/BindCallback.h"
#include "workflow/ClientUpdate.h"
#include "workflow/FileOps.h"
#include "workflow/LoginAnswer.h"
#include "workflow/PackageDigest.h"
#include "workflow/PackageDownload.h"
#include "workflow/ResourceString.h"
#include "workflow/Stages.h"
#include "workflow/TextFile.h"
#include "workflow/Trace.h"
#include "workflow/Unpack.h"

using namespace qorv;

UINT __cdecl DownloadClientProc(LPVOID param) {
    auto* view = static_cast<MainView*>(param);
    CBindCallback callback(view);
    const std::wstring url =
        PackageUrl(LoadResourceString(kIdsResourceBaseUrl), kClientPackagePath, GetTickCount());
    const std::wstring archivePath = AppendPath(view->m_strInstallDir, kClientPackageFile);
    const std::wstring newVersion = AppendPath(view->m_strInstallDir, kNewVersionFile);

    const std::wstring clientDir = AppendPath(view->m_strInstallDir, kClientSubdir);
    const std::wstring recordPath = AppendPath(view->m_strInstallDir, kClientRecordFile);

    view->m_nLoadingStep.store(3, std::memory_order_relaxed);
    std::vector<PackageEntry> installed;
    std::vector<bool> changed;
    const bool incremental =
        ReadInstallRecord(recordPath, &installed) &&
        FetchChangedEntries(url.c_str(), installed, clientDir, archivePath, &callback, &changed);
    if (!incremental) {
        const HRESULT downloaded = DownloadToFile(url.c_str(), archivePath.c_str(), &callback);
        if (downloaded != S_OK) {
            DeleteOneFile(newVersion);
            view->StageFailed("client", url, downloaded);
            return 0;
        }
        // Checked before the unpack deletes anything: a package that is not
        // the one its version names must leave the installed client as it is.
        // A sparse copy cannot be hashed: its entries' CRC-32s stand in.
        if (!PackageMatchesVersion(archivePath, ReadTextFile(newVersion))) {
            TraceLog(kTracePackageMismatch);
            DeleteOneFile(archivePath);
            DeleteOneFile(newVersion);
            view->LaunchGame();
            return 0;
        }
    }
    view->Repaint();

    // From the first delete on, the record would claim files that may be
    // gone; the next one is kept only once every entry is in, and before
    // pkg.ver, so a run killed anywhere leaves a record that holds or none.
    DeleteOneFile(recordPath);
    std::vector<unsigned char> record = PackageRecord(archivePath);
    std::vector<PackageEntry> planned;
    // A record the zip layer would read otherwise would describe files that
    // are not on disk.
    if (!incremental && (!ReadDirectory(record, &planned) ||
                         !ArchiveMatchesPlan(archivePath.c_str(), planned, nullptr))) {
        record.clear();
    }
    if (UnpackPackage(archivePath.c_str(), clientDir.c_str(), incremental ? &changed : nullptr)) {
        if (!record.empty()) {
            KeepInstallRecord(record, AppendPath(view->m_strInstallDir, kClientRecordNewFile),
                              recordPath);
        }
        const std::wstring versionFile = AppendPath(view->m_strInstallDir, kVersionFile);
        MoveFileExW(newVersion.c_str(), versionFile.c_str(), MOVEFILE_REPLACE_EXISTING);
        view->LaunchGame();
        return 0;
    }
    DeleteOneFile(newVersion);
    view->InstallFailed();
    return 0;
}
