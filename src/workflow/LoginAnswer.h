// The requests' URLs (packages and login) and the decision the login answer
// makes.
#pragma once

#include <cstdint>
#include <string>

namespace qorv {

// base + remotePath + "?skq=" + the tick count as a signed decimal.
std::wstring PackageUrl(const std::wstring& baseUrl, const wchar_t* remotePath, uint32_t tickCount);

// base + "qv/redirect_login_token?token=" + token + "&platform=" + platform,
// each value percent-encoded from its UTF-8 form (all but A-Z a-z 0-9 - . _ ~),
// so no token can change the request's shape.
std::wstring LoginUrl(const std::wstring& accountBaseUrl, const std::wstring& token,
                      const std::wstring& platform);

// The login URL as the trace shows it: the token replaced by a fixed mark.
std::wstring TracedLoginUrl(const std::wstring& accountBaseUrl, const std::wstring& platform);

// The installed shell program, quoted, with the platform word.
std::wstring ShellCommandLine(const std::wstring& installDir, const std::wstring& platform);

struct LaunchDecision {
    bool gameClient;           // false: the shell program
    std::wstring commandLine;  // quoted program path, then its arguments
};

// Converts the query string's bytes from the answer's code page to UTF-16.
using AnsiToWideFn = std::wstring (*)(const char* bytes);

// answer holds the account server's JSON in the system ANSI code page.
// "errno" (case-insensitive, its integer view) 0 with a string "query_string"
// starts the game client; every other answer, including one that is not a
// JSON object or has no "errno", starts the shell program, as does a client
// command line beyond the system's 32767-character limit.
LaunchDecision DecideLaunch(const std::string& answer, const std::wstring& installDir,
                            const std::wstring& platform, AnsiToWideFn ansiToWide);

}  // namespace qorv
