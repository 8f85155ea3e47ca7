#include "services/UninstallEntry.h"

#include <windows.h>

#include "InstallNames.h"
#include "services/FileSystem.h"
#include "services/RegistryKey.h"
#include "services/Text.h"

namespace qorv {

namespace {

// Written as UTF-16 so that paths outside the system's ANSI code page read
// back unchanged; the size counts the terminator.
LSTATUS SetString(HKEY key, const wchar_t* name, const std::wstring& text) {
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
}

// The fixed names are GBK bytes; empty when the system cannot convert them.
std::wstring FromGbk(const char* text) {
    return CodePageToUtf16(text, std::char_traits<char>::length(text), kGbkCodePage);
}

}  // namespace

void WriteUninstallEntry(std::wstring programPath, std::wstring installDirectory) {
    RegistryKey key;
    const LSTATUS opened = RegCreateKeyW(HKEY_CURRENT_USER, kUninstallKey, key.Receive());
    if (opened != ERROR_SUCCESS) return;

    // Each value stands alone: a failed write does not stop the next one.
    SetString(key.Get(), kValueDisplayIcon, programPath);
    const std::wstring displayName = FromGbk(kDisplayNameGbk);
    if (!displayName.empty()) SetString(key.Get(), kValueDisplayName, displayName);
    const std::wstring publisher = FromGbk(kPublisherGbk);
    if (!publisher.empty()) SetString(key.Get(), kValuePublisher, publisher);

    // A directory too long to join would leave a bare "Uninstall.exe": skip the value instead.
    const std::wstring uninstaller = AppendPath(installDirectory, kUninstallProgram);
    // Quoted, so that a profile path with a space runs this program and not
    // whatever the path's first word names.
    if (!uninstaller.empty()) {
        SetString(key.Get(), kValueUninstallString, L"\"" + uninstaller + L"\"");
    }

    SetString(key.Get(), kValueDisplayVersion, kDisplayVersion);
}

bool HasUninstallEntry() {
    RegistryKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, KEY_READ, key.Receive()) ==
           ERROR_SUCCESS;
}

HRESULT RemoveUninstallEntry() {
    // The fixed name ends in a backslash, which key deletion does not take.
    std::wstring subkey = kUninstallKey;
    if (!subkey.empty() && subkey.back() == L'\\') subkey.pop_back();
    // Called once: HRESULT_FROM_WIN32 may be a macro that reads its argument twice.
    const LSTATUS deleted = RegDeleteTreeW(HKEY_CURRENT_USER, subkey.c_str());
    return HRESULT_FROM_WIN32(deleted);
}

}  // namespace qorv
