#include "services/InstallDirectory.h"

#include <windows.h>
#include <shlobj.h>

#include "InstallNames.h"
#include "services/FileSystem.h"

namespace qorv {

std::wstring InstallDirectory() {
    wchar_t local[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, local, CSIDL_LOCAL_APPDATA, FALSE);
    return AppendPath(local, kInstallSubdir);
}

}  // namespace qorv
