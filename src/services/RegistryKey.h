// An open registry key, closed when it goes.
#pragma once

#include <windows.h>

#include "services/UniqueHandle.h"

namespace qorv {

struct RegistryKeyTraits {
    using Handle = HKEY;
    static Handle None() { return nullptr; }
    static bool IsValid(Handle handle) { return handle != nullptr; }
    static void Close(Handle handle) { RegCloseKey(handle); }
};
using RegistryKey = UniqueHandle<RegistryKeyTraits>;

}  // namespace qorv
