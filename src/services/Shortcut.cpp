#include "services/Shortcut.h"

#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
#include <wrl/client.h>

#include "services/FileSystem.h"
#include "services/SystemPath.h"
#include "services/UniqueHandle.h"

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

// An item list the shell allocated for the caller: CoTaskMemFree.
struct ItemListTraits {
    using Handle = PIDLIST_ABSOLUTE;
    static Handle None() { return nullptr; }
    static bool IsValid(Handle handle) { return handle != nullptr; }
    static void Close(Handle handle) { CoTaskMemFree(handle); }
};
using ItemList = UniqueHandle<ItemListTraits>;

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
    const std::wstring desktop = KnownFolder(FOLDERID_Desktop);
    // Without a desktop folder the link would land in the current folder.
    if (desktop.empty()) return std::wstring();
    return AppendPath(desktop, linkFileName);
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
    // The item list, not GetPath: Wine keeps the path GetPath reports only in
    // the ANSI code page, which turns a CJK profile folder into "?? ??". The
    // item list holds the exact wide path, and reading it resolves nothing,
    // so a moved target cannot make the link look like someone else's. The
    // shell allocates the path, however long it is.
    ItemList item;
    if (link->GetIDList(item.Receive()) != S_OK || !item.IsValid()) return false;
    wchar_t* path = nullptr;
    if (SHGetNameFromIDList(item.Get(), SIGDN_FILESYSPATH, &path) != S_OK || path == nullptr) {
        CoTaskMemFree(path);
        return false;
    }
    *target = path;
    CoTaskMemFree(path);
    return true;
}

}  // namespace qorv
