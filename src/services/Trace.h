// The installer's trace on standard output: no levels, no time stamps.
#pragma once

#include <string>

namespace qorv {

// printf-style narrow trace; the texts are GBK bytes. No line break is added.
void TraceLog(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Writes one wide text verbatim (a path or an entry name, never a format), in
// the system's ANSI code page on Windows and as UTF-8 elsewhere.
void TraceLogW(const wchar_t* text);

// A GUI program started without a console has no usable standard output; the
// trace then goes to QorvInstall.log in this directory so a player can send
// it to support. Called once, before any worker thread starts.
void TraceSetLogDirectory(const std::wstring& directory);

}  // namespace qorv
