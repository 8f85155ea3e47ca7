#include "workflow/InstallDirectory.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "Constants.h"

std::wstring InstallDirectory() {
    wchar_t path[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, path, CSIDL_LOCAL_APPDATA, FALSE);
    PathAppendW(path, qorv::kInstallSubdir);
    return path;
}
