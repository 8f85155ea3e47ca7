// Test helper run inside the Wine prefix: lists the visible top-level
// windows of a program, reads their controls' texts, and posts a message to
// a window.
//   qorv-winctl list EXE_NAME   one line per window:
//                               HWND LEFT TOP RIGHT BOTTOM EXSTYLE OWNER
//   qorv-winctl texts HWND      one line per child control of the window:
//                               its ID and its text (WM_GETTEXT), in UTF-8
//   qorv-winctl post HWND MESSAGE WPARAM
//   qorv-winctl detached PROGRAM  starts PROGRAM without standard handles,
//                                 as the desktop starts a GUI program, and
//                                 waits for it to end
//   qorv-winctl ps                the image names of the running processes,
//                                 one a line
//   qorv-winctl run COMMAND_LINE  starts COMMAND_LINE as the system starts a
//                                 registered command (no application name,
//                                 the program found from the line itself),
//                                 with this program's standard handles;
//                                 exits with its exit code, 255 when it
//                                 cannot start, 254 when it runs too long
//   qorv-winctl hold NAME SECONDS creates an event named NAME, so that no
//                                 mutex can take the name, prints "held" and
//                                 keeps it for SECONDS
//   qorv-winctl lock PATH SECONDS opens the file at PATH sharing nothing, as
//                                 a game or an editor may, prints "locked"
//                                 and keeps it open for SECONDS
//   qorv-winctl free PATH         the bytes GetDiskFreeSpaceExW says the user
//                                 may still write at PATH
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

struct ListRequest {
    const wchar_t* exeName;
    int count;
};

// True when the window's process runs an executable of the given file name.
bool BelongsTo(HWND hwnd, const wchar_t* exeName) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) return false;
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    bool match = false;
    if (QueryFullProcessImageNameW(process, 0, path, &size)) {
        const wchar_t* slash = wcsrchr(path, L'\\');
        match = _wcsicmp(slash != nullptr ? slash + 1 : path, exeName) == 0;
    }
    CloseHandle(process);
    return match;
}

BOOL CALLBACK ListWindow(HWND hwnd, LPARAM param) {
    auto* request = reinterpret_cast<ListRequest*>(param);
    if (!IsWindowVisible(hwnd) || !BelongsTo(hwnd, request->exeName)) return TRUE;
    RECT rect;
    GetWindowRect(hwnd, &rect);
    printf("%lx %ld %ld %ld %ld %lx %lx\n",
           static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(hwnd)), rect.left, rect.top,
           rect.right, rect.bottom, static_cast<unsigned long>(GetWindowLongW(hwnd, GWL_EXSTYLE)),
           static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(GetWindow(hwnd, GW_OWNER))));
    ++request->count;
    return TRUE;
}

// Asked by message, as the window's own program answers it; a hung one
// is skipped.
BOOL CALLBACK PrintText(HWND control, LPARAM) {
    wchar_t text[1024] = {};
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(control, WM_GETTEXT, sizeof text / sizeof text[0],
                             reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &length)) {
        return TRUE;
    }
    char utf8[4 * sizeof text / sizeof text[0]] = {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8,
                                         sizeof utf8, nullptr, nullptr);
    printf("%d %.*s\n", GetDlgCtrlID(control), size, utf8);
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && wcscmp(argv[1], L"list") == 0) {
        ListRequest request = {argv[2], 0};
        EnumWindows(ListWindow, reinterpret_cast<LPARAM>(&request));
        fflush(stdout);
        return 0;
    }
    if (argc == 3 && wcscmp(argv[1], L"texts") == 0) {
        HWND hwnd = reinterpret_cast<HWND>(static_cast<UINT_PTR>(wcstoul(argv[2], nullptr, 16)));
        if (!IsWindow(hwnd)) return 1;
        EnumChildWindows(hwnd, PrintText, 0);
        fflush(stdout);
        return 0;
    }
    if (argc == 5 && wcscmp(argv[1], L"post") == 0) {
        HWND hwnd = reinterpret_cast<HWND>(static_cast<UINT_PTR>(wcstoul(argv[2], nullptr, 16)));
        UINT message = static_cast<UINT>(wcstoul(argv[3], nullptr, 0));
        WPARAM wParam = static_cast<WPARAM>(wcstoul(argv[4], nullptr, 0));
        return PostMessageW(hwnd, message, wParam, 0) ? 0 : 1;
    }
    if (argc == 3 && wcscmp(argv[1], L"detached") == 0) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;  // all three null
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(argv[2], nullptr, nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                            nullptr, &startup, &process)) {
            return 1;
        }
        WaitForSingleObject(process.hProcess, 120000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return 0;
    }
    if (argc == 2 && wcscmp(argv[1], L"ps") == 0) {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE) return 1;
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot, &entry); more;
             more = Process32NextW(snapshot, &entry)) {
            printf("%ls\n", entry.szExeFile);
        }
        CloseHandle(snapshot);
        fflush(stdout);
        return 0;
    }
    if (argc == 3 && wcscmp(argv[1], L"run") == 0) {
        std::wstring commandLine = argv[2];  // CreateProcessW may write into it
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                            &startup, &process)) {
            return 255;
        }
        DWORD code = 254;
        if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0) {
            GetExitCodeProcess(process.hProcess, &code);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return static_cast<int>(code);
    }
    if (argc == 4 && wcscmp(argv[1], L"hold") == 0) {
        HANDLE event = CreateEventW(nullptr, TRUE, FALSE, argv[2]);
        if (event == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) return 1;
        printf("held\n");
        fflush(stdout);
        Sleep(static_cast<DWORD>(wcstoul(argv[3], nullptr, 10)) * 1000);
        CloseHandle(event);
        return 0;
    }
    if (argc == 4 && wcscmp(argv[1], L"lock") == 0) {
        HANDLE file = CreateFileW(argv[2], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return 1;
        printf("locked\n");
        fflush(stdout);
        Sleep(static_cast<DWORD>(wcstoul(argv[3], nullptr, 10)) * 1000);
        CloseHandle(file);
        return 0;
    }
    if (argc == 3 && wcscmp(argv[1], L"free") == 0) {
        ULARGE_INTEGER available = {};
        if (!GetDiskFreeSpaceExW(argv[2], &available, nullptr, nullptr)) return 1;
        printf("%llu\n", static_cast<unsigned long long>(available.QuadPart));
        fflush(stdout);
        return 0;
    }
    fprintf(stderr,
            "usage: qorv-winctl list EXE_NAME | texts HWND | post HWND MESSAGE WPARAM"
            " | detached PROGRAM"
            " | ps | run COMMAND_LINE | hold NAME SECONDS | lock PATH SECONDS"
            " | free PATH\n");
    return 2;
}
