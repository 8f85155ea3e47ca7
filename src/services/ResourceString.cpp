#include "services/ResourceString.h"

#include <windows.h>

namespace qorv {

std::wstring LoadResourceString(unsigned id) {
    // With no buffer, LoadStringW hands out a read-only pointer to the
    // resource text itself, whatever its length.
    const wchar_t* text = nullptr;
    int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || !text) return std::wstring();
    return std::wstring(text, static_cast<size_t>(length));
}

}  // namespace qorv
