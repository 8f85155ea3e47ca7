// Paths the system hands out, read into a buffer that grows to what the path
// needs rather than cut at MAX_PATH.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "services/FileSystem.h"

namespace qorv {

// The path read(buffer, capacity) writes, where read answers as the Win32
// path getters do: the length written without the terminator when the path
// fits; when it does not, either the capacity needed (GetTempPathW and its
// kind) or capacity itself (GetModuleFileNameW cuts the path); 0 on failure.
// Empty on failure or past kMaxPathChars.
template <typename Read>
std::wstring GrowingPath(Read read) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = read(&buffer[0], static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::wstring();
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        if (buffer.size() > kMaxPathChars) return std::wstring();
        const size_t wanted = length > buffer.size() ? length : buffer.size() * 2;
        buffer.assign(wanted < kMaxPathChars + 1 ? wanted : kMaxPathChars + 1, L'\0');
    }
}

// The current user's known folder; empty when the system has none for him.
std::wstring KnownFolder(REFKNOWNFOLDERID folder);

}  // namespace qorv
