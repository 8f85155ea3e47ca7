#include "workflow/InstallerName.h"

#include "Constants.h"

namespace qorv {

void SplitString(const std::wstring& text, const std::wstring& delimiter,
                 std::vector<std::wstring>& pieces) {
    std::wstring rest = text;
    if (!delimiter.empty()) {
        for (size_t at = rest.find(delimiter); at != std::wstring::npos;
             at = rest.find(delimiter)) {
            if (at > 0) pieces.push_back(rest.substr(0, at));
            rest.erase(0, at + delimiter.size());
        }
    }
    if (!rest.empty()) pieces.push_back(rest);
}

bool ParseInstallerName(const std::wstring& modulePath, std::wstring& token) {
    const size_t slash = modulePath.rfind(L'\\');
    const std::wstring fileName =
        slash == std::wstring::npos ? modulePath : modulePath.substr(slash + 1);
    const size_t dot = fileName.rfind(L'.');
    const std::wstring baseName =
        dot == std::wstring::npos ? std::wstring() : fileName.substr(0, dot);
    std::vector<std::wstring> pieces;
    SplitString(baseName, kNameDelimiter, pieces);
    if (pieces.size() != 3) return false;
    token = pieces[2];
    return true;
}

}  // namespace qorv
