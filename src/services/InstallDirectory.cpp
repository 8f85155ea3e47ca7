#include "services/InstallDirectory.h"

#include <windows.h>
#include <knownfolders.h>

#include "InstallNames.h"
#include "services/FileSystem.h"
#include "services/SystemPath.h"

namespace qorv {

std::wstring InstallDirectory() {
    return AppendPath(KnownFolder(FOLDERID_LocalAppData), kInstallSubdir);
}

}  // namespace qorv
