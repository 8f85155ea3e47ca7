// The per-user install directory, and making the folders of a path.
#pragma once

#include <string>

// The local (not roaming) application-data folder followed by
// "tovrine\qorv\"; it ends in a backslash. When the folder query fails the
// result is the relative "tovrine\qorv\". Nothing is created here.
std::wstring InstallDirectory();

// Creates every missing directory along path, testing each prefix that ends
// in a separator; the last component counts only when path ends in one.
// 0 when all exist or were made, -1 when a creation failed or path does not
// fit MAX_PATH. Wide calls, so any user name works.
int EnsureDirectory(std::wstring path);
