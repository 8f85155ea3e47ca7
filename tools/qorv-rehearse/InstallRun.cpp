#include "InstallRun.h"

#include <chrono>
#include <cstdio>
#include <vector>

#include "InstallNames.h"
#include "delivery/Delivery.h"
#include "delivery/Download.h"
#include "delivery/EntryPlan.h"
#include "delivery/InstallState.h"
#include "delivery/PackageVersion.h"
#include "services/FileSystem.h"
#include "services/LocalFile.h"
#include "services/Text.h"
#include "services/TextFile.h"
#include "services/TextMode.h"
#include "workflow/RequestUrl.h"

namespace qorv {

namespace {

uint32_t TickCount() {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// The version file as the installer compares it: read in text mode; empty
// when missing.
std::string VersionText(const std::wstring& path) {
    std::vector<unsigned char> bytes;
    if (!ReadWholeFile(path, kMaxTextFileBytes, &bytes)) return std::string();
    return TextModeBytes(std::string(bytes.begin(), bytes.end()));
}

std::string Failed(const char* stage, const char* what, HRESULT error) {
    char text[96] = {};
    snprintf(text, sizeof text, "%s: %s 0x%08X", stage, what, static_cast<unsigned>(error));
    return text;
}

const char* StatusName(DeliveryStatus status) {
    switch (status) {
        case DeliveryStatus::kInLine:
            return "in line";
        case DeliveryStatus::kDownloadFailed:
            return "download failed";
        case DeliveryStatus::kMismatch:
            return "package does not match its version";
        case DeliveryStatus::kUnpackFailed:
            return "unpack failed";
    }
    return "?";
}

// The version file's bytes as the state keeps them, and what they name.
void SetVersion(const std::wstring& path, PackageDelivery* client) {
    std::vector<unsigned char> bytes;
    ReadWholeFile(path, kMaxTextFileBytes, &bytes);
    client->version.assign(bytes.begin(), bytes.end());
    const std::string text = VersionText(path);
    ParsePackageVersion(Utf8ToUtf16(text.data(), text.size()), &client->expected);
}

// The version file fetched to path; S_OK or why not.
HRESULT FetchVersion(const std::wstring& baseUrl, const std::wstring& path, Transport& transport,
                     DeliveryObserver& observer) {
    const HRESULT downloaded =
        DownloadUpTo(transport, PackageUrl(baseUrl, kVersionFilePath, TickCount()), path,
                     kMaxTextFileBytes, observer);
    // Read and done with, as the installer's version file is.
    DeleteOneFile(path + kResumeSuffix);
    return downloaded;
}

// The client stage: a new version waits beside the installed one until the
// client it names is in; without one only missing files are restored. A
// package that is not the one its version names is judged once more against
// the version read again.
RunOutcome DeliverClient(const std::wstring& baseUrl, const std::wstring& installDir,
                         RunOutcome outcome, Transport& transport, DeliveryObserver& observer) {
    const bool restoreOnly = outcome.kind == RunKind::kRestore;
    const std::wstring versionFile = AppendPath(installDir, kVersionFile);
    const std::wstring newVersion = AppendPath(installDir, kNewVersionFile);
    PackageDelivery client;
    client.url = PackageUrl(baseUrl, kClientPackagePath, TickCount());
    client.copyPath = AppendPath(installDir, kClientPackageFile);
    client.targetDir = AppendPath(installDir, kClientSubdir);
    client.statePath = AppendPath(installDir, kClientStateFile);
    client.rule = restoreOnly ? RepairRule::kRestoreMissing : RepairRule::kNewVersion;
    SetVersion(restoreOnly ? versionFile : newVersion, &client);
    DeliveryResult delivered = DeliverPackage(client, transport, observer);
    if (delivered.status == DeliveryStatus::kMismatch && !restoreOnly &&
        FetchVersion(baseUrl, newVersion, transport, observer) == S_OK) {
        const std::string tried = client.version;
        SetVersion(newVersion, &client);
        if (client.version != tried) delivered = DeliverPackage(client, transport, observer);
    }
    if (delivered.status == DeliveryStatus::kMismatch) ForgetDownload(client.copyPath);
    if (!restoreOnly) {
        if (delivered.status == DeliveryStatus::kInLine &&
            MoveOver(newVersion, versionFile) != S_OK) {
            outcome.failure = "client: the version could not be kept";
            return outcome;
        }
        ForgetDownload(newVersion);
    }
    outcome.done = delivered.status == DeliveryStatus::kInLine;
    if (!outcome.done)
        outcome.failure = Failed("client", StatusName(delivered.status), delivered.error);
    return outcome;
}

}  // namespace

const char* RunKindName(RunKind kind) {
    switch (kind) {
        case RunKind::kFirstInstall:
            return "first install";
        case RunKind::kUpdate:
            return "update";
        case RunKind::kUpToDate:
            return "up to date";
        case RunKind::kRestore:
            return "restore";
    }
    return "?";
}

RunOutcome RunInstaller(const std::wstring& baseUrl, const std::wstring& installDir,
                        Transport& transport, DeliveryObserver& observer) {
    RunOutcome outcome;
    const HRESULT made = MakeDirectories(installDir);
    if (made != S_OK) {
        outcome.failure = Failed("shell", "no install folder", made);
        return outcome;
    }
    PackageDelivery shell;
    shell.url = PackageUrl(baseUrl, kShellPackagePath, TickCount());
    shell.copyPath = AppendPath(installDir, kShellPackageFile);
    shell.targetDir = installDir;
    shell.statePath = AppendPath(installDir, kShellStateFile);
    shell.rule = RepairRule::kReplaceChanged;
    const DeliveryResult shellDelivered = DeliverPackage(shell, transport, observer);
    if (shellDelivered.status != DeliveryStatus::kInLine) {
        outcome.failure = Failed("shell", StatusName(shellDelivered.status), shellDelivered.error);
        return outcome;
    }

    const std::wstring versionFile = AppendPath(installDir, kVersionFile);
    const std::wstring newVersion = AppendPath(installDir, kNewVersionFile);
    // The version file follows the client's state, as the installer's does.
    const std::wstring statePath = AppendPath(installDir, kClientStateFile);
    InstallState state;
    const bool installed = ReadInstallState(statePath, &state);
    if (installed && !state.applying && state.version != VersionText(versionFile) &&
        !KeepFile(std::vector<unsigned char>(state.version.begin(), state.version.end()),
                  newVersion, versionFile)) {
        outcome.failure = "version: the version could not be kept";
        return outcome;
    }
    const std::string oldText = VersionText(versionFile);
    const HRESULT downloaded = FetchVersion(baseUrl, newVersion, transport, observer);
    if (downloaded != S_OK) {
        outcome.failure = Failed("version", "download failed", downloaded);
        return outcome;
    }
    const std::string newText = VersionText(newVersion);
    if (newText != oldText || (installed && state.applying)) {
        outcome.kind = oldText.empty() ? RunKind::kFirstInstall : RunKind::kUpdate;
        return DeliverClient(baseUrl, installDir, outcome, transport, observer);
    }
    DeleteOneFile(newVersion);
    outcome.kind = RunKind::kUpToDate;
    if (InstalledFileMissing(statePath, AppendPath(installDir, kClientSubdir))) {
        outcome.kind = RunKind::kRestore;
        return DeliverClient(baseUrl, installDir, outcome, transport, observer);
    }
    outcome.done = true;
    return outcome;
}

}  // namespace qorv
