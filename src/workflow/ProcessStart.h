// Starting an installed program.
#pragma once

#include <string>

// Starts commandLine (a quoted program path and its arguments) with the
// installer's environment and current directory, and does not wait for it.
// False when the process could not be created.
bool StartProgram(const std::wstring& commandLine);
