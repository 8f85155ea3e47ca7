#include "workflow/InstallDirectory.h"

#include <windows.h>
#include <shlobj.h>

#include "Constants.h"
#include "workflow/FileOps.h"

int EnsureDirectory(std::wstring path) {
    wchar_t prefix[MAX_PATH] = {};
    if (path.size() >= MAX_PATH) return -1;
    for (size_t i = 0; i < path.size(); ++i) {
        prefix[i] = path[i];
        if (path[i] != L'\\' && path[i] != L'/') continue;
        if (GetFileAttributesW(prefix) != INVALID_FILE_ATTRIBUTES) continue;
        if (!CreateDirectoryW(prefix, nullptr)) return -1;
    }
    return 0;
}

std::wstring InstallDirectory() {
    wchar_t local[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, local, CSIDL_LOCAL_APPDATA, FALSE);
    return qorv::AppendPath(local, qorv::kInstallSubdir);
}
