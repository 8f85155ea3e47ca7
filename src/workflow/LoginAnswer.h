// What the login answer decides: the game client with its query string, or
// the shell program.
#pragma once

#include <string>

namespace qorv {

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
