// Uninstall.exe: removes, for the current user, what the installer made: the
// install directory, the desktop shortcut when it still points there, the
// uninstall entry, and the install directory's parent when that is left
// empty. "/S" removes without asking and shows nothing; the exit code and the
// trace (one line per item) say what happened.
//
// Started from the folder it removes, as the uninstall entry starts it, it
// continues from a copy in the temporary folder (HandOff.h). The copy moves
// the first program out of the folder (into the temporary folder, or into
// the parent when that lies on another volume) before it removes everything.
#include <windows.h>

#include <string>

#include "InstallNames.h"
#include "PlayerTexts.h"
#include "TraceTexts.h"
#include "services/FileSystem.h"
#include "services/InstallDirectory.h"
#include "services/Trace.h"
#include "services/UninstallEntry.h"
#include "services/UniqueHandle.h"
#include "uninstall/ExitCode.h"
#include "uninstall/HandOff.h"
#include "uninstall/Paths.h"
#include "uninstall/Removal.h"
#include "uninstall/Running.h"
#include "uninstall/ShortcutAndEntry.h"

namespace qorv {

namespace {

void Say(bool silent, const wchar_t* text, UINT icon) {
    if (!silent) MessageBoxW(nullptr, text, kUninstallTitle, MB_OK | icon);
}

int Run(const Options& options, Removal* removal) {
    const bool silent = options.silent;
    // The first process's program, when this is its copy.
    const std::wstring& callerImage = options.callerImage;
    if (!UnderLocalAppData(removal->installDir)) {
        TraceItem(kTraceRefused, removal->installDir);
        Say(silent, kUninstallRefused, MB_ICONERROR);
        return kExitRefused;
    }
    removal->linkIsOurs = IsOurShortcut(*removal);
    const bool hasEntry = HasUninstallEntry();
    if (!PathExists(WithoutTrailingSlash(removal->installDir)) && !removal->linkIsOurs &&
        !hasEntry) {
        TraceLog("%s", kTraceNothingToRemove);
        Say(silent, kUninstallNothing, MB_ICONINFORMATION);
        return kExitRemoved;
    }

    if (!silent && MessageBoxW(nullptr, kUninstallQuestion, kUninstallTitle,
                               MB_YESNO | MB_ICONQUESTION) != IDYES) {
        TraceLog("%s", kTraceCancelled);
        return kExitCancelled;
    }
    // Only the process that removes takes the installers' mutex, never a
    // first process that hands off: its copy would find it taken.
    KernelHandle instance;
    const std::wstring running = WhatRuns(removal->installDir, &instance);
    if (!running.empty()) {
        TraceItem(kTraceRunning, running);
        Say(silent, kUninstallRunning, MB_ICONWARNING);
        return kExitRunning;
    }

    // The first process's program comes back when the folder stays, so that
    // the uninstall entry can run it again to finish the job. Behind a link
    // it stays where it is: moving it would change what the link points to.
    const std::wstring link = LinkInPlace(*removal);
    const std::wstring moved = link.empty() && IsInside(callerImage, removal->installDir)
                                   ? MoveOut(removal, callerImage)
                                   : L"";
    const bool directoryGone =
        link.empty() ? RemoveInstallDirectory(removal) : RemoveLink(removal, link);
    if (directoryGone) {
        removal->movedCaller = moved;
    } else if (!moved.empty() &&  // from another volume too, where it could be deleted
               !MoveFileExW(moved.c_str(), callerImage.c_str(), MOVEFILE_COPY_ALLOWED)) {
        Failed(removal, moved);  // stranded outside the install directory
    }
    RemoveShortcut(removal);
    if (directoryGone) {
        RemoveEntry(removal);
    } else {
        TraceItem(kTraceKept, kUninstallKey);
    }
    // Else once the moved program has gone from there.
    if (!IsInside(removal->movedCaller, removal->parent)) RemoveEmptyParent(*removal);

    if (!link.empty()) {
        Say(silent, directoryGone ? kUninstallLinkRemoved : kUninstallLinkKept, MB_ICONWARNING);
    } else {
        Say(silent, removal->leftSome ? kUninstallLeftSome : kUninstallDone,
            removal->leftSome ? MB_ICONWARNING : MB_ICONINFORMATION);
    }
    return removal->leftSome ? kExitLeftSome : kExitRemoved;
}

int RunUninstaller() {
    // The folder being removed must not be this process's working directory.
    const std::wstring temp = TempFolder();
    if (!temp.empty()) SetCurrentDirectoryW(temp.c_str());
    const Options options = ReadOptions();
    if (options.resultPipe == nullptr) {
        const std::wstring image = OwnImage();
        if (IsInside(image, InstallDirectory())) {
            const int result = HandOff(image, options.silent);
            if (result >= 0) return result;
            // Without a copy it removes what it can; its own file stays.
        }
    }
    Removal removal = StartRemoval();
    const int result = Run(options, &removal);
    if (options.resultPipe != nullptr) Report(options, result, removal);
    return result;
}

}  // namespace

}  // namespace qorv

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return qorv::RunUninstaller();
}
