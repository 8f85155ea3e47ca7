#include "uninstall/HandOff.h"

#include <shellapi.h>

#include <cwchar>

#include "InstallNames.h"
#include "services/UniqueHandle.h"
#include "uninstall/ExitCode.h"
#include "uninstall/Paths.h"

namespace qorv {

namespace {

std::wstring HandleText(HANDLE handle) {
    wchar_t text[16] = {};
    // Handles that processes share hold 32 significant bits on every Windows.
    wsprintfW(text, L"%lx", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(handle)));
    return text;
}

HANDLE HandleFromText(const wchar_t* text) {
    return reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(wcstoul(text, nullptr, 16)));
}

}  // namespace

Options ReadOptions() {
    Options options;
    int count = 0;
    const LocalMemory<wchar_t**> args(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!args.IsValid()) return options;
    for (int i = 1; i < count; ++i) {
        if (lstrcmpiW(args.Get()[i], kSilentSwitch) == 0) options.silent = true;
        if (lstrcmpW(args.Get()[i], kHandOffSwitch) == 0 && i + 3 < count) {
            options.resultPipe = HandleFromText(args.Get()[i + 1]);
            options.caller = HandleFromText(args.Get()[i + 2]);
            options.callerImage = args.Get()[i + 3];
            i += 3;
        }
    }
    return options;
}

int HandOff(const std::wstring& image, bool silent) {
    const std::wstring copy = TempName();
    if (copy.empty() || !CopyFileW(image.c_str(), copy.c_str(), FALSE)) return -1;
    // Inherited by the copy, this handle deletes the copy's file when the
    // copy ends; and the file of a copy that never started when this ends.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    KernelHandle copyFile(CreateFileW(copy.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      &inherit, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!copyFile.IsValid()) {
        DeleteFileW(copy.c_str());
        return -1;
    }
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return -1;
    KernelHandle resultRead(readEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    PROCESS_INFORMATION process = {};
    {
        // Closed here once the copy has inherited them, so that the pipe
        // ends when the copy's end closes.
        KernelHandle resultWrite(writeEnd);
        HANDLE self = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                             SYNCHRONIZE, TRUE, 0)) {
            return -1;
        }
        KernelHandle selfForCopy(self);
        std::wstring commandLine = L"\"" + copy + L"\" " + (silent ? kSilentSwitch : L"") + L" " +
                                   kHandOffSwitch + L" " + HandleText(writeEnd) + L" " +
                                   HandleText(self) + L" \"" + image + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;  // the trace goes on where it went
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        if (!CreateProcessW(copy.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                            nullptr, &startup, &process)) {
            return -1;
        }
    }
    KernelHandle copyProcess(process.hProcess);
    CloseHandle(process.hThread);
    int result = 0;
    DWORD got = 0;
    if (ReadFile(readEnd, &result, sizeof result, &got, nullptr) && got == sizeof result) {
        return result;
    }
    // The copy ended without a word: its exit code is all there is.
    WaitForSingleObject(copyProcess.Get(), INFINITE);
    DWORD code = static_cast<DWORD>(kExitLeftSome);
    GetExitCodeProcess(copyProcess.Get(), &code);
    return static_cast<int>(code);
}

void Report(const Options& options, int result, const Removal& removal) {
    KernelHandle pipe(options.resultPipe);
    KernelHandle caller(options.caller);
    DWORD written = 0;
    WriteFile(pipe.Get(), &result, sizeof result, &written, nullptr);
    DeleteMovedCaller(removal, caller.Get());
}

}  // namespace qorv
