// The login answer's decision over arbitrary bytes: whatever the account
// server sends, a program is chosen, its command line starts with that
// program's quoted path and fits CreateProcessW's limit; and the login URL
// keeps its shape whatever the token holds.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzFail.h"
#include "services/Text.h"
#include "workflow/LoginAnswer.h"
#include "workflow/RequestUrl.h"

using namespace qorv;

namespace {

const std::wstring kInstallDir = L"C:\\Users\\Player\\AppData\\Local\\tovrine\\qorv\\";
const std::wstring kPlatform = L"pelmar";

// The answer's bytes as code page 1252 would give them, near enough: each
// byte one character.
std::wstring Latin1(const char* bytes) {
    std::wstring wide;
    for (; *bytes != '\0'; ++bytes)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(*bytes));
    return wide;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsUnreservedOrEscape(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') ||
           c == L'-' || c == L'.' || c == L'_' || c == L'~' || c == L'%';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string answer(reinterpret_cast<const char*>(data), size);
    const qorv::LaunchDecision launch = qorv::DecideLaunch(answer, kInstallDir, kPlatform, Latin1);
    const std::wstring program = launch.gameClient
                                     ? L"\"" + kInstallDir + L"GameClient\\kel_qorvmicro.exe\" "
                                     : L"\"" + kInstallDir + L"Qorv.exe\" ";
    if (!StartsWith(launch.commandLine, program)) Fail("command line does not start quoted");
    if (launch.commandLine.size() + 1 > 32767) Fail("command line too long");
    if (!launch.gameClient && launch.commandLine != program + kPlatform) {
        Fail("shell command line has more than the platform");
    }

    const std::wstring token = qorv::Utf8ToUtf16(answer.data(), answer.size());
    const std::wstring base = L"http://127.0.0.1/";
    const std::wstring url = qorv::LoginUrl(base, token, kPlatform);
    const std::wstring head = base + L"qv/redirect_login_token?token=";
    const std::wstring tail = L"&platform=" + kPlatform;
    if (!StartsWith(url, head) || url.size() < head.size() + tail.size() ||
        url.compare(url.size() - tail.size(), tail.size(), tail) != 0) {
        Fail("login URL lost its shape");
    }
    for (size_t i = head.size(); i < url.size() - tail.size(); ++i) {
        if (!IsUnreservedOrEscape(url[i])) Fail("token not percent-encoded");
    }
    return 0;
}
