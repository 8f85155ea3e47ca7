// The command line, and the hand-off from a first process started inside
// the install directory to its copy in the temporary folder.
//
// A running program's file cannot be deleted, and only a handle opened
// before a program starts can delete its file when it ends; so the first
// process makes the copy with such a handle, hands it to the copy, and waits
// for the copy's result. The copy removes everything, reports the result,
// waits for the first process to end and deletes its file; its own goes
// with the handle when it ends.
#pragma once

#include <windows.h>

#include <string>

#include "uninstall/Removal.h"

namespace qorv {

// The command line: "/S", and from the first process "/handoff PIPE PROCESS
// IMAGE": the inherited pipe that takes the result, the inherited handle of
// the first process and the path of its program.
struct Options {
    bool silent = false;
    HANDLE resultPipe = nullptr;
    HANDLE caller = nullptr;
    std::wstring callerImage;
};

Options ReadOptions();

// Runs a copy of image and returns its result; -1 when no copy could be
// started.
int HandOff(const std::wstring& image, bool silent);

// The copy's last duty: its result to the first process, then that
// process's program, which can go only once the process has ended.
void Report(const Options& options, int result, const Removal& removal);

}  // namespace qorv
