#include "services/Shortcut.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <wrl/client.h>

namespace qorv {

using Microsoft::WRL::ComPtr;

namespace {

// COM on the calling thread for one scope. S_FALSE (already initialised here)
// is a success that needs its own CoUninitialize; a failure needs none.
struct ComScope {
    const HRESULT result = CoInitialize(nullptr);
    ComScope() = default;
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    ~ComScope() {
        if (SUCCEEDED(result)) CoUninitialize();
    }
};

}  // namespace

void CreateDesktopShortcut(std::wstring target, std::wstring linkFileName, std::wstring arguments) {
    ComScope com;  // declared first: the interfaces below are released before it ends
    if (FAILED(com.result)) return;

    ComPtr<IShellLinkW> link;
    const HRESULT created =
        CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link));
    if (FAILED(created)) return;
    // Only the target and its arguments: no working directory, icon or
    // description of the link's own.
    link->SetPath(target.c_str());
    link->SetArguments(arguments.c_str());

    ComPtr<IPersistFile> file;
    const HRESULT queried = link.As(&file);
    if (FAILED(queried)) return;

    const std::wstring linkPath = DesktopLinkPath(linkFileName);
    if (linkPath.empty()) return;
    file->Save(linkPath.c_str(), FALSE);
}

std::wstring DesktopLinkPath(const std::wstring& linkFileName) {
    wchar_t desktop[MAX_PATH] = {};
    const BOOL found = SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOP, FALSE);
    // Without a desktop folder the link would land in the root of the current drive.
    if (!found) return std::wstring();
    return std::wstring(desktop) + L"\\" + linkFileName;
}

bool ReadShortcutTarget(const std::wstring& linkPath, std::wstring* target) {
    ComScope com;
    if (FAILED(com.result)) return false;
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&link))) ||
        FAILED(link.As(&file)) || FAILED(file->Load(linkPath.c_str(), STGM_READ))) {
        return false;
    }
    wchar_t path[MAX_PATH] = {};
    // The stored path as written, without resolving: a moved target must not
    // make the link look like someone else's.
    if (link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH) != S_OK) return false;
    *target = path;
    return true;
}

}  // namespace qorv
