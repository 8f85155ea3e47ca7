// Every fixed name of the installer and its uninstaller: folders and files,
// URL paths, the login request, the registry, the session's names and the
// uninstaller's switches.
#pragma once

namespace qorv {

// The session-wide name that keeps a second installer from running, and the
// property that marks the first one's host window.
constexpr wchar_t kInstanceMutexName[] = L"Local\\QorvInstall";
constexpr wchar_t kHostWindowProperty[] = L"QorvInstall.Host";

// Install directory under the per-user local application-data folder.
constexpr wchar_t kInstallSubdir[] = L"tovrine\\qorv\\";
constexpr wchar_t kClientSubdir[] = L"GameClient\\";

// Packages on the resource server, under the base URL.
constexpr wchar_t kShellPackagePath[] = L"/pkg/shell.zip";
constexpr wchar_t kVersionFilePath[] = L"/pkg/pkg.ver";
constexpr wchar_t kClientPackagePath[] = L"/pkg/GameClient.zip";
constexpr wchar_t kCacheBusterFormat[] = L"?skq=%d";
constexpr wchar_t kHttpUserAgent[] = L"QorvInstall";

// Files in the install directory.
constexpr wchar_t kShellPackageFile[] = L"shell.zip";
constexpr wchar_t kVersionFile[] = L"pkg.ver";
constexpr wchar_t kNewVersionFile[] = L"pkg.ver.new";  // the server copy until the client is in
constexpr wchar_t kClientPackageFile[] = L"GameClient.zip";

// What each package installed, the one truth of it (InstallState.h).
constexpr wchar_t kShellStateFile[] = L"shell.state";
constexpr wchar_t kClientStateFile[] = L"GameClient.state";

// The records installs kept before the state: each package's central
// directory and end records, taken over once.
constexpr wchar_t kShellRecordFile[] = L"shell.dir";
constexpr wchar_t kClientRecordFile[] = L"GameClient.dir";
constexpr wchar_t kShellProgram[] = L"Qorv.exe";
constexpr wchar_t kClientProgram[] = L"GameClient\\kel_qorvmicro.exe";
constexpr wchar_t kLoginAnswerFile[] = L"GameClient\\lgt.json";

constexpr wchar_t kUninstallProgram[] = L"Uninstall.exe";
constexpr wchar_t kTraceLogFile[] = L"QorvInstall.log";
constexpr wchar_t kDownloadSuffix[] = L".part";

// Beside a partial download: the URL, validator and length it continues.
constexpr wchar_t kResumeSuffix[] = L".resume";

// Beside a package's whole download: its sparse copy, holding only the end
// records, the directory and the entries fetched by ranges.
constexpr wchar_t kSparseSuffix[] = L".ranges";

// Beside a file kept whole or not at all: the new one until it is moved.
constexpr wchar_t kNewFileSuffix[] = L".new";

// Where an entry's new bytes wait, in the folder it is unpacked into, until
// they proved whole and replace the installed file.
constexpr wchar_t kUnpackReplacementFile[] = L"~qorv-unpack.tmp";

// An entry's new file, named by its index, in the nearest folder of its
// target that exists, until every entry is staged and they are moved.
constexpr wchar_t kStagedFileFormat[] = L"~qorv-%u.stage";

// Beside a running program's image that an update moved aside, numbered
// (up to kMaxAsideNames), until a later run can delete it.
constexpr wchar_t kAsideSuffix[] = L".~qorv-old";

// The installer's own file name and the login request.
constexpr wchar_t kNameDelimiter[] = L"-";
constexpr wchar_t kPlatform[] = L"pelmar";
constexpr wchar_t kLoginPath[] = L"qv/redirect_login_token?token=";
constexpr wchar_t kLoginPlatformParam[] = L"&platform=";
constexpr char kAnswerErrno[] = "errno";
constexpr char kAnswerQueryString[] = "query_string";
constexpr wchar_t kClientCommandSuffix[] = L"&client=pc";

// Desktop shortcut and uninstall entry.
constexpr wchar_t kShortcutFile[] = L"Orvanta.lnk";
constexpr wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QorvInstall\\";
constexpr wchar_t kValueDisplayIcon[] = L"DisplayIcon";
constexpr wchar_t kValueDisplayName[] = L"DisplayName";
constexpr wchar_t kValuePublisher[] = L"Publisher";
constexpr wchar_t kValueUninstallString[] = L"UninstallString";
constexpr wchar_t kValueDisplayVersion[] = L"DisplayVersion";

// The display name and publisher are held as GBK bytes.
constexpr unsigned kGbkCodePage = 936;
constexpr char kDisplayNameGbk[] = "Orvanta";
constexpr char kPublisherGbk[] = "Velmora";
constexpr wchar_t kDisplayVersion[] = L"1.0.0.9";

// The uninstaller's switches and the name of its copy in the temporary
// folder while it removes the folder it came from.
constexpr wchar_t kSilentSwitch[] = L"/S";
constexpr wchar_t kHandOffSwitch[] = L"/handoff";  // from the first process to its copy
constexpr wchar_t kUninstallerTempFormat[] = L"QorvUninstall-%lu.exe";

}  // namespace qorv
