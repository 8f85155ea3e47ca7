#include "workflow/LoginAnswer.h"

#include <cjson/cJSON.h>

#include <cwchar>
#include <memory>

#include "InstallNames.h"
#include "services/FileSystem.h"
#include "services/Text.h"

namespace qorv {

namespace {

// CreateProcessW takes at most 32767 characters, terminator included.
constexpr size_t kMaxCommandLine = 32767;

std::wstring Quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

LaunchDecision ShellProgram(const std::wstring& installDir, const std::wstring& platform) {
    return {false, ShellCommandLine(installDir, platform)};
}

struct JsonDelete {
    void operator()(cJSON* item) const { cJSON_Delete(item); }
};

}  // namespace

std::wstring ShellCommandLine(const std::wstring& installDir, const std::wstring& platform) {
    return Quoted(AppendPath(installDir, kShellProgram)) + L" " + platform;
}

LaunchDecision DecideLaunch(const std::string& answer, const std::wstring& installDir,
                            const std::wstring& platform, AnsiToWideFn ansiToWide) {
    // The text up to its first zero byte, with that terminator; anything after
    // the first complete JSON value is ignored.
    const char* text = answer.c_str();
    std::unique_ptr<cJSON, JsonDelete> root(
        cJSON_ParseWithLengthOpts(text, std::char_traits<char>::length(text) + 1, nullptr, 0));
    if (!cJSON_IsObject(root.get())) return ShellProgram(installDir, platform);
    const cJSON* errorNumber = cJSON_GetObjectItem(root.get(), kAnswerErrno);
    if (errorNumber == nullptr || errorNumber->valueint != 0) {
        return ShellProgram(installDir, platform);
    }
    const cJSON* query = cJSON_GetObjectItem(root.get(), kAnswerQueryString);
    if (!cJSON_IsString(query) || query->valuestring == nullptr) {
        return ShellProgram(installDir, platform);
    }
    std::wstring commandLine = Quoted(AppendPath(installDir, kClientProgram)) + L" 0 " +
                               ansiToWide(query->valuestring) + kClientCommandSuffix;
    if (commandLine.size() + 1 > kMaxCommandLine) return ShellProgram(installDir, platform);
    return {true, commandLine};
}

}  // namespace qorv
