// Starting an installed program.
#pragma once

#include <windows.h>

#include <string>

namespace qorv {

// Starts commandLine (a quoted program path and its arguments) with the
// installer's environment and current directory, and does not wait for it.
// S_OK, or the error that kept the process from being created.
[[nodiscard]] HRESULT StartProgram(const std::wstring& commandLine);

}  // namespace qorv
