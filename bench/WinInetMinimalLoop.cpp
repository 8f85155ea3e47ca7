// The floor for the download benchmark: one WinINet request, 64 KiB reads
// written straight to the file, nothing else (no progress, no checks).
// Usage: wininet-minimal-loop URL PATH
#include <windows.h>

#include <wininet.h>

#include <cstdio>

namespace {

constexpr DWORD kReadSize = 64 * 1024;

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("usage: wininet-minimal-loop URL PATH\n", stderr);
        return 2;
    }
    HINTERNET session =
        InternetOpenW(L"wininet-minimal-loop", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET request =
        session ? InternetOpenUrlW(session, argv[1], nullptr, 0,
                                   INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                : nullptr;
    HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = request != nullptr && file != INVALID_HANDLE_VALUE;
    static BYTE buffer[kReadSize];
    DWORD read = 0;
    while (ok && InternetReadFile(request, buffer, kReadSize, &read) && read > 0) {
        DWORD written = 0;
        ok = WriteFile(file, buffer, read, &written, nullptr) && written == read;
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (request) InternetCloseHandle(request);
    if (session) InternetCloseHandle(session);
    return ok ? 0 : 1;
}
