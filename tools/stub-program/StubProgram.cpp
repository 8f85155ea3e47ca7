// Stand-in for the programs the installer starts ("Qorv.exe" and the game
// client) in the tests and the demo. It appends its command line, as UTF-8,
// to "<its own path>.args" and exits; the demo build also shows the
// arguments in a window for a few seconds. Started with the last argument
// "stay", it keeps running for up to a minute, as a game still open.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

constexpr DWORD kStayMilliseconds = 60000;

std::string ToUtf8(const wchar_t* text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], bytes, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

void RecordCommandLine(const wchar_t* commandLine) {
    wchar_t path[MAX_PATH + 8] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    lstrcatW(path, L".args");
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::string line = ToUtf8(commandLine) + "\n";
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

#ifdef QORV_STUB_WINDOW
constexpr UINT_PTR kCloseTimer = 1;
constexpr UINT kShowMilliseconds = 4000;
const wchar_t* g_text = L"";

LRESULT CALLBACK StubWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(hwnd, &paint);
            RECT client;
            GetClientRect(hwnd, &client);
            InflateRect(&client, -16, -16);
            DrawTextW(dc, g_text, -1, &client, DT_WORDBREAK | DT_NOPREFIX);
            EndPaint(hwnd, &paint);
            return 0;
        }
        case WM_TIMER:
            DestroyWindow(hwnd);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void ShowCommandLine(HINSTANCE instance, const wchar_t* commandLine) {
    static std::wstring text;
    text = std::wstring(L"Started with the command line:\n\n") + commandLine;
    g_text = text.c_str();
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = StubWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"QorvStubProgram";
    RegisterClassW(&windowClass);
    wchar_t title[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, title, MAX_PATH);
    HWND hwnd =
        CreateWindowExW(0, windowClass.lpszClassName, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                        CW_USEDEFAULT, 640, 200, nullptr, nullptr, instance, nullptr);
    ShowWindow(hwnd, SW_SHOWNORMAL);
    SetTimer(hwnd, kCloseTimer, kShowMilliseconds, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}
#endif

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const wchar_t* commandLine = GetCommandLineW();
    RecordCommandLine(commandLine);
#ifdef QORV_STUB_WINDOW
    ShowCommandLine(instance, commandLine);
#else
    (void)instance;
#endif
    const size_t length = wcslen(commandLine);
    if (length >= 5 && wcscmp(commandLine + length - 5, L" stay") == 0) Sleep(kStayMilliseconds);
    return 0;
}
