#include "uninstall/ShortcutAndEntry.h"

#include <windows.h>

#include <string>

#include "InstallNames.h"
#include "TraceTexts.h"
#include "services/FileSystem.h"
#include "services/Shortcut.h"
#include "services/UninstallEntry.h"
#include "uninstall/Paths.h"

namespace qorv {

bool IsOurShortcut(const Removal& removal) {
    std::wstring target;
    return !removal.link.empty() && PathExists(removal.link) &&
           ReadShortcutTarget(removal.link, &target) && IsInside(target, removal.installDir);
}

void RemoveShortcut(Removal* removal) {
    const std::wstring& link = removal->link;
    if (link.empty() || !PathExists(link)) {
        TraceItem(kTraceAbsent, link);
    } else if (!removal->linkIsOurs) {
        TraceItem(kTraceKept, link);  // the player pointed it elsewhere
    } else if (DeleteFileW(link.c_str())) {
        TraceItem(kTraceRemoved, link);
    } else {
        Failed(removal, link);
    }
}

void RemoveEntry(Removal* removal) {
    const HRESULT result = RemoveUninstallEntry();
    if (result == S_OK) {
        TraceItem(kTraceRemoved, kUninstallKey);
    } else if (result == kResultFileNotFound) {
        TraceItem(kTraceAbsent, kUninstallKey);
    } else {
        Failed(removal, kUninstallKey);
    }
}

}  // namespace qorv
