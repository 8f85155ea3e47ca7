// Creating the directories of a target path, shallowest level first.
#pragma once

#include "services/zip/ZipExtract.h"

// Creates base (one level) when given and missing, then every missing level
// of base followed by path: for path a/b/c/ these are a, a/b and a/b/c.
// Failures are not reported; they show when a file inside cannot be made.
// Paths that do not fit kZipMaxPath characters are left alone.
void ZipMakeDirs(const wchar_t* base, const wchar_t* path);
