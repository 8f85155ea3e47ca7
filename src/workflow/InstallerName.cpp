#include "workflow/InstallerName.h"

#include <vector>

#include "InstallNames.h"
#include "services/Text.h"

namespace qorv {

bool ParseInstallerName(const std::wstring& modulePath, std::wstring* token) {
    const size_t slash = modulePath.rfind(L'\\');
    const std::wstring fileName =
        slash == std::wstring::npos ? modulePath : modulePath.substr(slash + 1);
    const size_t dot = fileName.rfind(L'.');
    const std::wstring baseName =
        dot == std::wstring::npos ? std::wstring() : fileName.substr(0, dot);
    std::vector<std::wstring> pieces;
    SplitString(baseName, kNameDelimiter, pieces);
    if (pieces.size() != 3) return false;
    *token = pieces[2];
    return true;
}

}  // namespace qorv
