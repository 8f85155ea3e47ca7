// Who else is at work on the install directory: an installer, or the
// installed shell program or game client.
#pragma once

#include <string>

#include "services/UniqueHandle.h"

namespace qorv {

// What keeps the install directory from being removed now: the installers'
// mutex name when an installer runs or may run, else the path of the
// installed program that runs; empty when nothing does. instance receives
// the installers' mutex; held, it ends at once any installer started later.
std::wstring WhatRuns(const std::wstring& installDir, KernelHandle* instance);

}  // namespace qorv
