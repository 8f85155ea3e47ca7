// The launch step: ask the account server for a login redirect and start the
// game client with it, or the shell program when the answer says no.
#include <windows.h>

#include <string>

#include "Constants.h"
#include "delivery/DownloadToFile.h"
#include "view/MainView.h"
#include "workflow/ClosingStep.h"
#include "workflow/FileHandle.h"
#include "workflow/FileOps.h"
#include "workflow/LoginAnswer.h"
#include "workflow/ResourceString.h"
#include "workflow/TextFile.h"
#include "workflow/Trace.h"

using namespace qorv;

// Bytes in the system ANSI code page, terminator included, to UTF-16.
std::wstring AnsiToWide(const char* bytes) {
    const int units = MultiByteToWideChar(CP_ACP, 0, bytes, -1, nullptr, 0);
    if (units <= 1) return std::wstring();
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes, -1, &wide[0], units);
    wide.resize(static_cast<size_t>(units - 1));
    return wide;
}

namespace {

std::string WideToAnsi(const std::wstring& text) {
    const int bytes =
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return std::string();
    std::string narrow(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &narrow[0], bytes, nullptr, nullptr);
    narrow.resize(static_cast<size_t>(bytes - 1));
    return narrow;
}

}  // namespace

void MainView::LaunchGame() {
    const std::wstring url =
        LoginUrl(LoadResourceString(kIdsAccountBaseUrl), m_strToken, m_strPlatform);
    const std::wstring answerPath = AppendPath(m_strInstallDir, kLoginAnswerFile);
    HRESULT downloaded = DownloadToFile(url.c_str(), answerPath.c_str(), nullptr);
    if (downloaded == S_OK && !PathExists(answerPath)) {
        downloaded = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    if (downloaded != S_OK) {
        StageFailed("login", TracedLoginUrl(LoadResourceString(kIdsAccountBaseUrl), m_strPlatform),
                    downloaded);
        return;
    }

    // The answer makes the same round trip through the code pages as ever,
    // but whole: no length limit cuts it.
    const std::string answer = WideToAnsi(ReadTextFile(answerPath));
    const LaunchDecision launch = DecideLaunch(answer, m_strInstallDir, m_strPlatform, AnsiToWide);
    if (!StartInstalledProgram(launch.commandLine)) return;
    TraceLog(launch.gameClient ? kTraceStartGameClient : kTraceStartMicroClient);
    RunClosingStep(this);
}
