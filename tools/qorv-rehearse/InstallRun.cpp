#include "InstallRun.h"

#include <chrono>
#include <cstdio>
#include <vector>

#include "Constants.h"
#include "delivery/Delivery.h"
#include "delivery/Download.h"
#include "delivery/InstallRecord.h"
#include "delivery/LocalFile.h"
#include "services/FileSystem.h"
#include "services/Text.h"
#include "workflow/PackageDigest.h"
#include "workflow/RequestUrl.h"
#include "workflow/TextMode.h"

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
    if (!ReadWholeFile(path, kMaxVersionBytes, &bytes)) return std::string();
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

// The client stage: a new version waits beside the installed one until the
// client it names is in; without one only missing files are restored.
RunOutcome DeliverClient(const std::wstring& baseUrl, const std::wstring& installDir,
                         RunOutcome outcome, Transport& transport, DeliveryObserver& observer) {
    const bool restoreOnly = outcome.kind == RunKind::kRestore;
    const std::wstring versionFile = AppendPath(installDir, kVersionFile);
    const std::wstring newVersion = AppendPath(installDir, kNewVersionFile);
    const std::string version = VersionText(restoreOnly ? versionFile : newVersion);
    PackageDelivery client;
    client.url = PackageUrl(baseUrl, kClientPackagePath, TickCount());
    client.copyPath = AppendPath(installDir, kClientPackageFile);
    client.targetDir = AppendPath(installDir, kClientSubdir);
    client.recordPath = AppendPath(installDir, kClientRecordFile);
    client.rule = restoreOnly ? RepairRule::kRestoreMissing : RepairRule::kNewVersion;
    const std::wstring versionWide = Utf8ToUtf16(version.data(), version.size());
    client.wholeMatches = [&versionWide](const std::wstring& path) {
        return PackageMatchesVersion(path, versionWide);
    };
    if (!restoreOnly) client.claimPath = versionFile;
    const DeliveryResult delivered = DeliverPackage(client, transport, observer);
    if (!restoreOnly) {
        if (delivered.status == DeliveryStatus::kInLine && !MoveFileOver(newVersion, versionFile)) {
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
    shell.recordPath = AppendPath(installDir, kShellRecordFile);
    shell.rule = RepairRule::kReplaceChanged;
    const DeliveryResult shellDelivered = DeliverPackage(shell, transport, observer);
    if (shellDelivered.status != DeliveryStatus::kInLine) {
        outcome.failure = Failed("shell", StatusName(shellDelivered.status), shellDelivered.error);
        return outcome;
    }

    const std::wstring versionFile = AppendPath(installDir, kVersionFile);
    const std::wstring newVersion = AppendPath(installDir, kNewVersionFile);
    const std::string oldText = VersionText(versionFile);
    const HRESULT downloaded = DownloadWhole(
        transport, PackageUrl(baseUrl, kVersionFilePath, TickCount()), newVersion, observer);
    // Read and done with, as the installer's version file is.
    DeleteOneFile(newVersion + kResumeSuffix);
    if (downloaded != S_OK) {
        outcome.failure = Failed("version", "download failed", downloaded);
        return outcome;
    }
    const std::string newText = VersionText(newVersion);
    if (newText != oldText) {
        outcome.kind = oldText.empty() ? RunKind::kFirstInstall : RunKind::kUpdate;
        return DeliverClient(baseUrl, installDir, outcome, transport, observer);
    }
    DeleteOneFile(newVersion);
    outcome.kind = RunKind::kUpToDate;
    if (RecordedFileMissing(AppendPath(installDir, kClientRecordFile),
                            AppendPath(installDir, kClientSubdir))) {
        outcome.kind = RunKind::kRestore;
        return DeliverClient(baseUrl, installDir, outcome, transport, observer);
    }
    outcome.done = true;
    return outcome;
}

}  // namespace qorv
