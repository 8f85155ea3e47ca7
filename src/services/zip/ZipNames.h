// Entry names: decoding the stored bytes and cleaning them, and the tests
// that decide whether a target path stays under the base directory.
#pragma once

#include <cstddef>

#include "services/zip/ZipExtract.h"

namespace qorv {

// Decodes stored name bytes as UTF-8 (invalid sequences replaced) into name,
// which holds kZipMaxPath wide characters. False when the result would need
// more than kZipMaxPath - 1 characters; name is then unspecified.
bool ZipDecodeName(const char* stored, size_t length, wchar_t (&name)[kZipMaxPath]);

// Applies the name rules in order, starting again after every change, until
// none applies: a drive prefix, a leading separator and everything up to the
// first "\..\", "\../", "/../" or "/..\" are dropped.
void ZipCleanName(wchar_t* name);

// True for "\x", "/x" and "C:x": such targets ignore the base directory.
bool ZipIsAbsolutePath(const wchar_t* path);

}  // namespace qorv
