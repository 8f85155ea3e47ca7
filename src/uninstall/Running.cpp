#include "uninstall/Running.h"

#include <windows.h>
#include <tlhelp32.h>

#include <utility>

#include "InstallNames.h"
#include "services/FileSystem.h"
#include "services/SystemPath.h"
#include "uninstall/Paths.h"

namespace qorv {

namespace {

// The installed shell program or game client when one of them is running.
// When the processes cannot be listed that is unknown too, and the install
// directory itself is returned so that nothing is removed.
std::wstring RunningInstalledProgram(const std::wstring& installDir) {
    const std::wstring programs[] = {AppendPath(installDir, kShellProgram),
                                     AppendPath(installDir, kClientProgram)};
    KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    if (!snapshot.IsValid() || !Process32FirstW(snapshot.Get(), &entry)) return installDir;
    do {
        KernelHandle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (!process.IsValid()) continue;  // another user's or a system process
        const std::wstring image =
            GrowingPath([&process](wchar_t* buffer, DWORD capacity) -> DWORD {
                DWORD size = capacity;
                if (QueryFullProcessImageNameW(process.Get(), 0, buffer, &size)) return size;
                return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? capacity : 0;
            });
        if (image.empty()) continue;
        for (const std::wstring& program : programs) {
            if (SameName(image, program)) return program;
        }
    } while (Process32NextW(snapshot.Get(), &entry));
    return std::wstring();
}

}  // namespace

std::wstring WhatRuns(const std::wstring& installDir, KernelHandle* instance) {
    // An installer running now would write into what is removed, and one
    // started while this holds the installers' mutex ends at once. A mutex
    // that cannot be created or opened may be an installer's too.
    KernelHandle mutex(CreateMutexW(nullptr, FALSE, kInstanceMutexName));
    const bool taken = mutex.IsValid() && GetLastError() != ERROR_ALREADY_EXISTS;
    *instance = std::move(mutex);
    if (!taken) return kInstanceMutexName;
    return RunningInstalledProgram(installDir);
}

}  // namespace qorv
