#include "workflow/ClientStage.h"

#include <windows.h>

#include <string>

#include "InstallNames.h"
#include "ResourceIds.h"
#include "TraceTexts.h"
#include "delivery/Delivery.h"
#include "delivery/Download.h"
#include "delivery/DownloadToFile.h"
#include "delivery/PackageVersion.h"
#include "delivery/WinInetTransport.h"
#include "services/FileSystem.h"
#include "services/LocalFile.h"
#include "services/ResourceString.h"
#include "services/TextFile.h"
#include "services/Trace.h"
#include "view/MainView.h"
#include "workflow/BindCallback.h"
#include "workflow/FailureText.h"
#include "workflow/RequestUrl.h"

namespace qorv {

namespace {

// How often, and after how long a pause each time, a client package that is
// not the one its version names is tried again before the installed client
// is launched: about a minute in all, as an edge's copy of pkg.ver lives
// seconds but a package's may take a purge to go.
constexpr int kStaleEdgeTries = 5;
constexpr unsigned kStaleEdgePauseMs = 12000;

// Once the client's bytes are on disk: how much an update by ranges
// fetched, and a repaint.
class ClientObserver : public StageObserver {
public:
    ClientObserver(CBindCallback* callback, MainView* view)
        : StageObserver(callback), m_pView(view) {}
    void Fetched(const FetchSummary& summary) override {
        if (summary.ranged) {
            TraceLog(kTraceIncremental, static_cast<unsigned long>(summary.entries),
                     static_cast<unsigned long>(summary.allEntries),
                     static_cast<unsigned long>(summary.bytes),
                     static_cast<unsigned long>(summary.allBytes));
        }
        m_pView->Repaint();
    }

private:
    MainView* m_pView;
};

// Fetches the version file again over newVersion and sets the delivery to
// it; the version it had stays when the file cannot be fetched.
void ReadVersionAgain(const std::wstring& newVersion, DeliveryObserver& observer,
                      PackageDelivery* client) {
    const std::wstring url =
        PackageUrl(LoadResourceString(kIdsResourceBaseUrl), kVersionFilePath, GetTickCount());
    std::vector<unsigned char> bytes;
    if (DownloadToFile(url.c_str(), newVersion.c_str(), kMaxTextFileBytes, observer) != S_OK ||
        !ReadWholeFile(newVersion, kMaxTextFileBytes, &bytes)) {
        return;
    }
    client->version.assign(bytes.begin(), bytes.end());
    ParsePackageVersion(ReadTextFile(newVersion), &client->expected);
}

}  // namespace

UINT __cdecl DownloadClientProc(LPVOID param) {
    auto* view = static_cast<MainView*>(param);
    CBindCallback callback(view);
    const std::wstring& installDir = view->m_strInstallDir;
    // A new version waits beside the installed one until the client it
    // names is in; without one only missing files are restored.
    const bool restoreOnly = view->m_restoreOnly;
    const std::wstring newVersion = AppendPath(installDir, kNewVersionFile);
    const std::wstring versionFile = AppendPath(installDir, kVersionFile);
    const std::wstring versionPath = restoreOnly ? versionFile : newVersion;
    std::vector<unsigned char> versionBytes;
    ReadWholeFile(versionPath, kMaxTextFileBytes, &versionBytes);
    PackageDelivery client;
    client.url =
        PackageUrl(LoadResourceString(kIdsResourceBaseUrl), kClientPackagePath, GetTickCount());
    client.copyPath = AppendPath(installDir, kClientPackageFile);
    client.targetDir = AppendPath(installDir, kClientSubdir);
    client.statePath = AppendPath(installDir, kClientStateFile);
    client.rule = restoreOnly ? RepairRule::kRestoreMissing : RepairRule::kNewVersion;
    // The state keeps the version's bytes; the digests it names judge the
    // package before anything changes, on either road.
    client.version.assign(versionBytes.begin(), versionBytes.end());
    ParsePackageVersion(ReadTextFile(versionPath), &client.expected);

    view->m_nLoadingStep.store(3, std::memory_order_relaxed);
    WinInetTransport transport;
    ClientObserver observer(&callback, view);
    DeliveryResult delivered = DeliverPackage(client, transport, observer);
    // An edge may serve the previous package for a while after the new
    // version, or the version moved on during the download: the run waits
    // and tries again, each time against the version read again, so that a
    // package is never committed under a version that does not name it.
    for (int tried = 0;
         delivered.status == DeliveryStatus::kMismatch && !restoreOnly && tried < kStaleEdgeTries;
         ++tried) {
        TraceLog(kTracePackageMismatch);
        view->ShowWaiting(true);
        Sleep(kStaleEdgePauseMs);
        ReadVersionAgain(newVersion, observer, &client);
        delivered = DeliverPackage(client, transport, observer);
        view->ShowWaiting(false);
    }
    // A copy no version names is no use to the next run.
    if (delivered.status == DeliveryStatus::kMismatch) ForgetDownload(client.copyPath);
    if (delivered.status == DeliveryStatus::kInLine) {
        if (!restoreOnly) {
            // The state holds the version already; a version file that
            // cannot follow now is made from it by the next run.
            if (MoveOver(newVersion, versionFile) != S_OK) TraceLog(kTraceVersionNotKept);
            ForgetDownload(newVersion);
        }
        view->LaunchGame();
        return 0;
    }
    if (!restoreOnly) ForgetDownload(newVersion);
    switch (delivered.status) {
        case DeliveryStatus::kDownloadFailed:
            view->StageFailed("client", client.url, delivered.error);
            break;
        case DeliveryStatus::kMismatch:
            // The installed client stays as it was and is launched.
            TraceLog(kTracePackageMismatch);
            view->LaunchGame();
            break;
        default:
            view->InstallFailed(DeliveryFailureText(delivered));
            break;
    }
    return 0;
}

}  // namespace qorv
