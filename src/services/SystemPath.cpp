#include "services/SystemPath.h"

namespace qorv {

std::wstring KnownFolder(REFKNOWNFOLDERID folder) {
    wchar_t* path = nullptr;
    const HRESULT found = SHGetKnownFolderPath(folder, KF_FLAG_DEFAULT, nullptr, &path);
    std::wstring result = found == S_OK && path != nullptr ? path : L"";
    CoTaskMemFree(path);  // allocated even on failure, or null
    return result;
}

}  // namespace qorv
