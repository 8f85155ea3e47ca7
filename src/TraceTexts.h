// Every text of the trace. The narrow texts are GBK (code page 936) bytes,
// written as escapes so the source stays ASCII.
#pragma once

namespace qorv {

constexpr char kTraceLoadingStep[] = "loading_step=%d";
constexpr char kTracePercent[] = "\npercent=%d";
constexpr char kTraceDownloaded[] = "\n\xd2\xd1\xcf\xc2\xd4\xd8%d\n";      // downloaded %d
constexpr char kTraceDownloadDone[] = "\xcf\xc2\xd4\xd8\xcd\xea\xb3\xc9";  // download finished
constexpr char kTraceLineEnd[] = "\n";
constexpr char kTraceDelete[] = "\xc9\xbe\xb3\xfd\xa3\xba";              // delete:
constexpr char kTraceUnpackDone[] = "\xbd\xe2\xd1\xb9\xcd\xea\xb3\xc9";  // unpacking finished
constexpr char kTraceUnpackFailed[] =
    "\xbd\xe2\xd1\xb9\xca\xa7\xb0\xdc 0x%X: ";                               // unpacking failed
constexpr char kTraceHeldBy[] = "\xd5\xbc\xd3\xc3\xb3\xcc\xd0\xf2\xa3\xba";  // held by:
constexpr char kTraceNoRoom[] =  // too little disk space: HRESULT, KB needed and free, the folder
    "\n\xb4\xc5\xc5\xcc\xbf\xd5\xbc\xe4\xb2\xbb\xd7\xe3 0x%X\xa3\xac\xd0\xe8\xd2\xaa %lu "
    "KB\xa3\xac\xbf\xc9\xd3\xc3 %lu KB\xa3\xba";
constexpr char kTracePackageMismatch[] =  // the client package does not match its version
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
