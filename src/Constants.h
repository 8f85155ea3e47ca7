// Every fixed name and text of the installer: file names, URL paths, registry
// names, resource identifiers and the trace texts. The narrow trace texts are
// GBK (code page 936) bytes, written as escapes so the source stays ASCII.
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
constexpr wchar_t kShellProgram[] = L"Qorv.exe";
constexpr wchar_t kClientProgram[] = L"GameClient\\kel_qorvmicro.exe";
constexpr wchar_t kLoginAnswerFile[] = L"GameClient\\lgt.json";
constexpr wchar_t kUninstallProgram[] = L"Uninstall.exe";
constexpr wchar_t kTraceLogFile[] = L"QorvInstall.log";
constexpr wchar_t kDownloadSuffix[] = L".part";

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
constexpr char kTracePackageMismatch[] =  // the client package does not match its version
    "\xbf\xcd\xbb\xa7\xb6\xcb\xb0\xfc\xd3\xeb\xb0\xe6\xb1\xbe\xb2\xbb\xb7\xfb\n";
constexpr char kTraceStartShell[] =                                      // starting client
    "\xc6\xf4\xb6\xaf\xbf\xcd\xbb\xa7\xb6\xcb\xa3\xac\xb2\xce\xca\xfd:\n";
constexpr char kTraceStartGameClient[] =  // starting game client
    "\xc6\xf4\xb6\xaf\xd3\xce\xcf\xb7\xbf\xcd\xbb\xa7\xb6\xcb\xa3\xac\xb2\xce\xca\xfd:\n";
constexpr char kTraceStartMicroClient[] =  // starting micro-client
    "\xc6\xf4\xb6\xaf\xce\xa2\xb6\xcb\xa3\xac\xb2\xce\xca\xfd:\n";
constexpr char kTraceWidth[] = "\nwidth=%d";

}  // namespace qorv
