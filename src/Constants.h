// Every fixed name and text of the installer and its uninstaller: file names,
// URL paths, registry names, resource identifiers, message texts and the trace
// texts. The narrow trace texts are GBK (code page 936) bytes, written as
// escapes so the source stays ASCII.
#pragma once

namespace qorv {

// Resources.
constexpr unsigned kIdrMainFrame = 128;     // icon group
constexpr unsigned kIdPngBar = 129;         // the golden bar, 441 x 5
constexpr unsigned kIdPngBackground = 130;  // the artwork, 467 x 218
constexpr unsigned kIddHost = 102;          // host window template
constexpr unsigned kIddView = 132;          // progress view template
constexpr unsigned kIdsResourceBaseUrl = 135;
constexpr unsigned kIdsAccountBaseUrl = 136;
constexpr int kIdcBarAnchor = 1000;
constexpr int kIdcStatusText = 1002;
constexpr wchar_t kPngResourceType[] = L"PNG";
// The status text once a download stopped a stage: "Download failed; check
// the network, then click the window to continue." A click starts the run
// again, keeping what was downloaded.
constexpr wchar_t kFailureText[] =
    L"\x4E0B\x8F7D\x5931\x8D25\xFF0C\x8BF7\x68C0\x67E5\x7F51\x7EDC\x540E\x70B9\x51FB\x7A97\x53E3"
    L"\x7EE7\x7EED\x3002";
// The status text once a package could not be unpacked: "The installation
// could not be completed; please click the window to try again."
constexpr wchar_t kInstallFailedText[] =
    L"\x5B89\x88C5\x672A\x80FD\x5B8C\x6210\xFF0C\x8BF7\x70B9\x51FB\x7A97\x53E3\x91CD\x8BD5"
    L"\x3002";
// Once a file to replace is held by a program: "A game file is in use;
// please close the game, then click the window to continue."
constexpr wchar_t kInUseText[] =
    L"\x6E38\x620F\x6587\x4EF6\x6B63\x5728\x4F7F\x7528\x4E2D\xFF0C\x8BF7\x5173\x95ED\x6E38\x620F"
    L"\x540E\x70B9\x51FB\x7A97\x53E3\x7EE7\x7EED\x3002";
// Once the install's drive has too little room: "Not enough disk space, %s
// more is needed; please free some, then click the window to continue."
// The size goes in as megabytes ("%ls" takes e.g. "35 MB").
constexpr wchar_t kNoSpaceFormat[] =
    L"\x78C1\x76D8\x7A7A\x95F4\x4E0D\x8DB3\xFF0C\x8FD8\x9700\x8981 %ls\xFF0C\x8BF7\x91CA\x653E"
    L"\x7A7A\x95F4\x540E\x70B9\x51FB\x7A97\x53E3\x7EE7\x7EED\x3002";
constexpr wchar_t kMegabytesUnit[] = L" MB";
// While the run waits for an edge that still serves the previous package:
// "The server is updating, please wait..."
constexpr wchar_t kWaitingText[] =
    L"\x670D\x52A1\x5668\x6B63\x5728\x66F4\x65B0\xFF0C\x8BF7\x7A0D\x5019\x2026\x2026";
// How often, and after how long a pause each time, a client package that is
// not the one its version names is tried again before the installed client
// is launched: about a minute in all, as an edge's copy of pkg.ver lives
// seconds but a package's may take a purge to go.
constexpr int kStaleEdgeTries = 5;
constexpr unsigned kStaleEdgePauseMs = 12000;
// Once a program did not start: "The program could not be started; please
// click the window to try again."
constexpr wchar_t kStartFailedText[] =
    L"\x7A0B\x5E8F\x65E0\x6CD5\x542F\x52A8\xFF0C\x8BF7\x70B9\x51FB\x7A97\x53E3\x91CD\x8BD5"
    L"\x3002";
// The session-wide name that keeps a second installer from running, and the
// property that marks the first one's host window.
constexpr wchar_t kInstanceMutexName[] = L"Local\\QorvInstall";
constexpr wchar_t kHostWindowProperty[] = L"QorvInstall.Host";

// Window geometry in device pixels.
constexpr int kWindowWidth = 467;
constexpr int kWindowHeight = 218;
constexpr int kBarWidth = 441;
constexpr int kBarHeight = 5;
constexpr int kBarX = 14;
constexpr int kBarY = 186;

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
// The longest version file and login answer taken, downloaded or read: each
// is a few lines, and one that grows without end (a body sent without a
// length) must neither fill the disk nor be read into memory.
constexpr unsigned kMaxTextFileBytes = 64 * 1024;
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
// Native builds only: milliseconds the file layer waits at every close of an
// extracted file, so that benchmarks can play a virus scanner.
constexpr char kCloseDelayVariable[] = "QORV_CLOSE_DELAY_MS";
// Beside a running program's image that an update moved aside, numbered
// (up to kMaxAsideNames), until a later run can delete it.
constexpr wchar_t kAsideSuffix[] = L".~qorv-old";
constexpr int kMaxAsideNames = 100;

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

// The uninstaller: its switches, the name of its files in the temporary
// folder while it removes the folder it came from, its exit codes and the
// texts of its message boxes (Simplified Chinese, as the installer's window).
constexpr wchar_t kSilentSwitch[] = L"/S";
constexpr wchar_t kHandOffSwitch[] = L"/handoff";  // from the first process to its copy
constexpr wchar_t kUninstallerTempFormat[] = L"QorvUninstall-%lu.exe";
constexpr int kExitRemoved = 0;    // everything gone, or there was nothing to remove
constexpr int kExitLeftSome = 1;   // something could not be removed and was left
constexpr int kExitRunning = 2;    // the game or an installer runs: nothing removed
constexpr int kExitRefused = 3;    // no install directory under the local app-data folder
constexpr int kExitCancelled = 4;  // the player answered no
constexpr wchar_t kUninstallTitle[] = L"Orvanta";
constexpr wchar_t kUninstallQuestion[] =  // Uninstall Orvanta?
    L"\x786e\x5b9a\x8981\x5378\x8f7d Orvanta \x5417\xff1f";
constexpr wchar_t kUninstallDone[] =
    L"Orvanta \x5df2\x5378\x8f7d\x3002";  // Orvanta is uninstalled.
constexpr wchar_t kUninstallLeftSome[] =  // Some files could not be removed: close the programs
                                          // using them and uninstall again.
    L"\x6709\x4e9b\x6587\x4ef6\x672a\x80fd\x5220\x9664\xff0c\x8bf7\x5173\x95ed\x6b63\x5728"
    L"\x4f7f\x7528\x5b83\x4eec\x7684\x7a0b\x5e8f\x540e\x518d\x6b21\x5378\x8f7d\x3002";
constexpr wchar_t kUninstallRunning[] =  // Orvanta is running: close it first. Nothing was removed.
    L"Orvanta \x6b63\x5728\x8fd0\x884c\xff0c\x8bf7\x5148\x5173\x95ed\x5b83\x518d\x5378\x8f7d"
    L"\x3002\x4ec0\x4e48\x90fd\x6ca1\x6709\x5220\x9664\x3002";
constexpr wchar_t kUninstallNothing[] =  // There is nothing to remove.
    L"\x6ca1\x6709\x9700\x8981\x5220\x9664\x7684\x5185\x5bb9\x3002";
constexpr wchar_t kUninstallRefused[] =  // The install directory is not under the local
                                         // application-data folder; nothing was removed.
    L"\x5b89\x88c5\x76ee\x5f55\x4e0d\x5728\x672c\x5730\x5e94\x7528\x6570\x636e\x6587\x4ef6"
    L"\x5939\x4e0b\xff0c\x4ec0\x4e48\x90fd\x6ca1\x6709\x5220\x9664\x3002";
constexpr wchar_t kUninstallLinkRemoved[] =  // The install directory or its parent folder is
                                             // a link: the link was removed, the files it
                                             // points to were kept.
    L"\x5b89\x88c5\x76ee\x5f55\x6216\x5176\x4e0a\x7ea7\x6587\x4ef6\x5939\x662f\x4e00\x4e2a"
    L"\x94fe\x63a5\xff1a\x5df2\x5220\x9664\x8be5\x94fe\x63a5\xff0c\x5b83\x6307\x5411\x7684"
    L"\x6587\x4ef6\x5df2\x4fdd\x7559\x3002";
constexpr wchar_t kUninstallLinkKept[] =  // The install directory or its parent folder is a
                                          // link: the link could not be removed, the files it
                                          // points to were kept.
    L"\x5b89\x88c5\x76ee\x5f55\x6216\x5176\x4e0a\x7ea7\x6587\x4ef6\x5939\x662f\x4e00\x4e2a"
    L"\x94fe\x63a5\xff1a\x672a\x80fd\x5220\x9664\x8be5\x94fe\x63a5\xff0c\x5b83\x6307\x5411"
    L"\x7684\x6587\x4ef6\x5df2\x4fdd\x7559\x3002";

// Zip extra-field block id of the extended time stamps.
constexpr unsigned char kZipExtendedTimeId[2] = {'U', 'T'};

// Trace texts.
constexpr char kTraceLoadingStep[] = "loading_step=%d";
constexpr char kTracePercent[] = "\npercent=%d";
constexpr char kTraceDownloaded[] = "\n\xd2\xd1\xcf\xc2\xd4\xd8%d\n";      // downloaded %d
constexpr char kTraceDownloadDone[] = "\xcf\xc2\xd4\xd8\xcd\xea\xb3\xc9";  // download finished
constexpr char kTraceLineEnd[] = "\n";
constexpr char kTraceDelete[] = "\xc9\xbe\xb3\xfd\xa3\xba";              // delete:
constexpr char kTraceUnpackDone[] = "\xbd\xe2\xd1\xb9\xcd\xea\xb3\xc9";  // unpacking finished
constexpr char kTraceUnpackFailed[] =
    "\xbd\xe2\xd1\xb9\xca\xa7\xb0\xdc 0x%X: ";  // unpacking failed
constexpr char kTracePackageMismatch[] =        // the client package does not match its version
    "\xbf\xcd\xbb\xa7\xb6\xcb\xb0\xfc\xd3\xeb\xb0\xe6\xb1\xbe\xb2\xbb\xb7\xfb\n";
constexpr char kTraceIncremental[] =  // incremental update: entries, then bytes fetched of all
    "\xd4\xf6\xc1\xbf\xb8\xfc\xd0\xc2\xa3\xba%lu/%lu \xb8\xf6\xcc\xf5\xc4\xbf\xa3\xac%lu/%lu "
    "\xd7\xd6\xbd\xda\n";
constexpr char kTraceStartShell[] =  // starting client
    "\xc6\xf4\xb6\xaf\xbf\xcd\xbb\xa7\xb6\xcb\xa3\xac\xb2\xce\xca\xfd:\n";
constexpr char kTraceStartGameClient[] =  // starting game client
    "\xc6\xf4\xb6\xaf\xd3\xce\xcf\xb7\xbf\xcd\xbb\xa7\xb6\xcb\xa3\xac\xb2\xce\xca\xfd:\n";
constexpr char kTraceStartMicroClient[] =  // starting micro-client
    "\xc6\xf4\xb6\xaf\xce\xa2\xb6\xcb\xa3\xac\xb2\xce\xca\xfd:\n";
constexpr char kTraceWidth[] = "\nwidth=%d";
constexpr char kTraceStageFailed[] =  // download failed: stage, HRESULT, then the URL
    "\n\xcf\xc2\xd4\xd8\xca\xa7\xb0\xdc %s 0x%08lX ";
constexpr char kTraceStartFailed[] =  // start failed: HRESULT, then the command line
    "\n\xc6\xf4\xb6\xaf\xca\xa7\xb0\xdc 0x%08lX ";
constexpr char kTraceVersionNotKept[] =  // the version could not be kept
    "\xb0\xe6\xb1\xbe\xce\xb4\xc4\xdc\xb1\xa3\xb4\xe6\n";
// What the trace shows in place of the login token: players send the trace
// to support.
constexpr wchar_t kTraceTokenMark[] = L"***";
// The uninstaller's trace: one line per item, the text then its path.
constexpr char kTraceRemoved[] = "\xd2\xd1\xc9\xbe\xb3\xfd\xa3\xba";             // removed:
constexpr char kTraceNotRemoved[] = "\xce\xb4\xc4\xdc\xc9\xbe\xb3\xfd\xa3\xba";  // not removed:
constexpr char kTraceKept[] = "\xb1\xa3\xc1\xf4\xa3\xba";                        // kept:
constexpr char kTraceAbsent[] = "\xb2\xbb\xb4\xe6\xd4\xda\xa3\xba";              // absent:
constexpr char kTraceNothingToRemove[] =  // nothing to remove
    "\xc3\xbb\xd3\xd0\xd0\xe8\xd2\xaa\xc9\xbe\xb3\xfd\xb5\xc4\xc4\xda\xc8\xdd\n";
constexpr char kTraceRunning[] =
    "\xb3\xcc\xd0\xf2\xd5\xfd\xd4\xda\xd4\xcb\xd0\xd0\xa3\xba";  // running:
constexpr char kTraceRefused[] =  // install directory not under the local app-data folder:
    "\xb0\xb2\xd7\xb0\xc4\xbf\xc2\xbc\xb2\xbb\xd4\xda\xb1\xbe\xb5\xd8\xd3\xa6\xd3\xc3\xca\xfd"
    "\xbe\xdd\xce\xc4\xbc\xfe\xbc\xd0\xcf\xc2\xa3\xba";
constexpr char kTraceCancelled[] = "\xd2\xd1\xc8\xa1\xcf\xfb\n";  // cancelled
constexpr char kTraceLink[] =  // a link, the files it points to kept:
    "\xc1\xb4\xbd\xd3\xa3\xac\xc6\xe4\xd6\xb8\xcf\xf2\xb5\xc4\xce\xc4\xbc\xfe\xd2\xd1\xb1\xa3"
    "\xc1\xf4\xa3\xba";
// The installer's, when its instance mutex cannot be made: another installer
// is running, then the error code.
constexpr char kTraceAnotherInstaller[] =
    "\xc1\xed\xd2\xbb\xb8\xf6\xb0\xb2\xd7\xb0\xb3\xcc\xd0\xf2\xd5\xfd\xd4\xda\xd4\xcb\xd0\xd0 "
    "0x%lX\n";

}  // namespace qorv
