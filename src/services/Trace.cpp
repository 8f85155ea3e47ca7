#include "services/Trace.h"

#include <cstdarg>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>

#include <cwchar>
#include <mutex>
#endif

#include "InstallNames.h"
#include "services/Text.h"
#ifdef _WIN32
#include "services/UniqueHandle.h"
#endif

namespace qorv {

namespace {

#ifdef _WIN32
// Standard output when it is usable, else the log file. The log's directory
// may not exist until the shell stage creates it, so the file is opened on
// the first write that finds it there; what comes before (the first paints)
// waits in memory, up to a bound. The lock orders the writes to the log.
HANDLE g_stdout = INVALID_HANDLE_VALUE;
bool g_useLogFile = false;
std::wstring g_logPath;
KernelHandle g_logFile;
std::string g_pending;
std::mutex g_logLock;
constexpr size_t kMaxPending = 64 * 1024;

bool Usable(HANDLE h) {
    return h != nullptr && h != INVALID_HANDLE_VALUE;
}

void WriteTo(HANDLE out, const char* bytes, size_t count) {
    DWORD written = 0;
    WriteFile(out, bytes, static_cast<DWORD>(count), &written, nullptr);
}

void WriteBytes(const char* bytes, size_t count) {
    if (count == 0) return;
    if (!g_useLogFile) {
        HANDLE out = Usable(g_stdout) ? g_stdout : GetStdHandle(STD_OUTPUT_HANDLE);
        if (Usable(out)) WriteTo(out, bytes, count);
        return;
    }
    std::lock_guard<std::mutex> hold(g_logLock);
    if (!g_logFile.IsValid()) {
        g_logFile.Reset(CreateFileW(g_logPath.c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!g_logFile.IsValid()) {
            const size_t room = kMaxPending - g_pending.size();
            g_pending.append(bytes, count < room ? count : room);
            return;
        }
        if (!g_pending.empty()) WriteTo(g_logFile.Get(), g_pending.data(), g_pending.size());
        std::string().swap(g_pending);
    }
    WriteTo(g_logFile.Get(), bytes, count);
}
#else
void WriteBytes(const char* bytes, size_t count) {
    fwrite(bytes, 1, count, stdout);
}
#endif

}  // namespace

void TraceSetLogDirectory(const std::wstring& directory) {
#ifdef _WIN32
    g_stdout = GetStdHandle(STD_OUTPUT_HANDLE);
    if (Usable(g_stdout) && GetFileType(g_stdout) != FILE_TYPE_UNKNOWN) return;
    g_logPath = directory + kTraceLogFile;
    g_useLogFile = true;
#else
    (void)directory;
#endif
}

void TraceLog(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) return;
    WriteBytes(text,
               static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1);
}

void TraceLogW(const wchar_t* text) {
#ifdef _WIN32
    const std::string narrow = Utf16ToCodePage(text, wcslen(text), CP_ACP);
    WriteBytes(narrow.data(), narrow.size());
#else
    std::string narrow = Utf16ToUtf8(std::wstring(text));
    WriteBytes(narrow.data(), narrow.size());
#endif
}

}  // namespace qorv
