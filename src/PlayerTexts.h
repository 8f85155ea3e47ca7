// Every text the player reads: the installer's status texts and the
// uninstaller's message boxes, in Simplified Chinese.
#pragma once

namespace qorv {

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

// Once a program did not start: "The program could not be started; please
// click the window to try again."
constexpr wchar_t kStartFailedText[] =
    L"\x7A0B\x5E8F\x65E0\x6CD5\x542F\x52A8\xFF0C\x8BF7\x70B9\x51FB\x7A97\x53E3\x91CD\x8BD5"
    L"\x3002";

// The uninstaller's message boxes.
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

}  // namespace qorv
