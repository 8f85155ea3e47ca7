// The launch step: ask the account server for a login redirect and start the
// game client with it, or the shell program when the answer says no.
#include <windows.h>

#include <string>

#include "InstallNames.h"
#include "ResourceIds.h"
#include "TraceTexts.h"
#include "delivery/DownloadToFile.h"
#include "services/FileSystem.h"
#include "services/ResourceString.h"
#include "services/Text.h"
#include "services/TextFile.h"
#include "services/Trace.h"
#include "view/MainView.h"
#include "workflow/BindCallback.h"
#include "workflow/ClosingStep.h"
#include "workflow/LoginAnswer.h"
#include "workflow/RequestUrl.h"

namespace qorv {

namespace {

// The answer's query string, in the system's ANSI code page.
std::wstring AnsiToWide(const char* bytes) {
    return CodePageToUtf16(bytes, std::char_traits<char>::length(bytes), CP_ACP);
}

}  // namespace

void MainView::LaunchGame() {
    const std::wstring url =
        LoginUrl(LoadResourceString(kIdsAccountBaseUrl), m_strToken, m_strPlatform);
    const std::wstring answerPath = AppendPath(m_strInstallDir, kLoginAnswerFile);
    StageObserver quiet(nullptr);  // the login moves no bar
    HRESULT downloaded = DownloadToFile(url.c_str(), answerPath.c_str(), kMaxTextFileBytes, quiet);
    if (downloaded == S_OK && !PathExists(answerPath)) {
        downloaded = kResultFileNotFound;
    }
    if (downloaded != S_OK) {
        StageFailed("login", TracedLoginUrl(LoadResourceString(kIdsAccountBaseUrl), m_strPlatform),
                    downloaded);
        return;
    }

    // The answer makes the same round trip through the code pages as ever,
    // but whole: the download's cap fails a longer one rather than cut it.
    const std::wstring text = ReadTextFile(answerPath);
    const std::string answer = Utf16ToCodePage(text.data(), text.size(), CP_ACP);
    const LaunchDecision launch = DecideLaunch(answer, m_strInstallDir, m_strPlatform, AnsiToWide);
    if (!StartInstalledProgram(launch.commandLine)) return;
    TraceLog(launch.gameClient ? kTraceStartGameClient : kTraceStartMicroClient);
    RunClosingStep(this);
}

}  // namespace qorv
