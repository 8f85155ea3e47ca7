#include "uninstall/Removal.h"

#include <vector>

#include "InstallNames.h"
#include "TraceTexts.h"
#include "services/FileSystem.h"
#include "services/InstallDirectory.h"
#include "services/Shortcut.h"
#include "services/Trace.h"
#include "uninstall/Paths.h"
#include "uninstall/RemoveTree.h"

namespace qorv {

namespace {

constexpr DWORD kCallerEndMilliseconds = 30000;
constexpr int kDeleteAttempts = 20;
constexpr DWORD kDeleteRetryMilliseconds = 100;

}  // namespace

Removal StartRemoval() {
    Removal removal;
    removal.installDir = InstallDirectory();
    removal.parent = ParentOf(removal.installDir);
    removal.link = DesktopLinkPath(kShortcutFile);
    return removal;
}

void TraceItem(const char* text, const std::wstring& path) {
    TraceLog("%s", text);
    TraceLogW(path.c_str());
    TraceLog("%s", kTraceLineEnd);
}

void Failed(Removal* removal, const std::wstring& path) {
    TraceItem(kTraceNotRemoved, path);
    removal->leftSome = true;
}

std::wstring LinkInPlace(const Removal& removal) {
    for (const std::wstring& path : {removal.parent, removal.installDir}) {
        if (LinkAttributes(path) != 0) return WithoutTrailingSlash(path);
    }
    return std::wstring();
}

// The temporary folder may lie on another volume, where a move copies and
// then deletes; a running program's file cannot be deleted, so the move may
// leave it in place beside a copy, even when it reports success. The copy
// then goes again, and a rename on the file's own volume takes it into the
// install directory's parent instead.
std::wstring MoveOut(Removal* removal, const std::wstring& image) {
    const std::wstring temp = TempName();
    if (!temp.empty()) {
        if (MoveFileExW(image.c_str(), temp.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) &&
            !PathExists(image)) {
            return temp;
        }
        if (PathExists(temp) && !DeleteFileW(temp.c_str())) Failed(removal, temp);
    }
    const std::wstring beside = AppendPath(removal->parent, OwnFileName());
    if (!beside.empty() && MoveFileExW(image.c_str(), beside.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return beside;
    }
    return std::wstring();
}

bool RemoveInstallDirectory(Removal* removal) {
    const std::wstring directory = WithoutTrailingSlash(removal->installDir);
    if (!PathExists(directory)) {
        TraceItem(kTraceAbsent, removal->installDir);
        return true;
    }
    std::vector<std::wstring> failed;
    if (RemoveTree(removal->installDir, &failed)) {
        TraceItem(kTraceRemoved, removal->installDir);
        return true;
    }
    for (const std::wstring& path : failed) Failed(removal, path);
    return false;
}

// What a link points to is not this program's to remove: the link goes
// alone, which counts as leaving something. It then stands for the install
// directory: gone, the entry goes too; left, the entry stays.
bool RemoveLink(Removal* removal, const std::wstring& link) {
    TraceItem(kTraceLink, link);
    removal->leftSome = true;
    const DWORD attributes = LinkAttributes(link);
    const DirEntry entry{link, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, true};
    if (attributes != 0 && RemoveDirectoryOrLink(link, entry)) {
        TraceItem(kTraceRemoved, link);
        return true;
    }
    Failed(removal, link);
    return false;
}

// Another program of the same maker may keep its files there: the folder goes
// only when it is empty, and staying is no failure. A link there is never
// removed here: RemoveDirectoryW would take it whatever it points to.
void RemoveEmptyParent(const Removal& removal) {
    if (!PathExists(WithoutTrailingSlash(removal.parent))) {
        TraceItem(kTraceAbsent, removal.parent);
    } else if (LinkAttributes(removal.parent) == 0 && RemoveDirectoryW(removal.parent.c_str())) {
        TraceItem(kTraceRemoved, removal.parent);
    } else {
        TraceItem(kTraceKept, removal.parent);
    }
}

void DeleteMovedCaller(const Removal& removal, HANDLE caller) {
    if (removal.movedCaller.empty()) return;
    WaitForSingleObject(caller, kCallerEndMilliseconds);
    for (int attempt = 0; attempt < kDeleteAttempts; ++attempt) {
        if (DeleteFileW(removal.movedCaller.c_str())) {
            if (IsInside(removal.movedCaller, removal.parent)) RemoveEmptyParent(removal);
            return;
        }
        Sleep(kDeleteRetryMilliseconds);
    }
    TraceItem(kTraceNotRemoved, removal.movedCaller);
}

}  // namespace qorv
