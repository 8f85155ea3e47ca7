// Bounded building of target paths in MAX_PATH buffers.
#pragma once

#include "services/zip/ZipExtract.h"

namespace qorv {

// out = first + second + third. False, with out empty, when the result
// needs more than kZipMaxPath - 1 characters.
bool ZipJoinPath(wchar_t (&out)[kZipMaxPath], const wchar_t* first, const wchar_t* second,
                 const wchar_t* third);

// Splits target after its last "\" or "/": directory receives everything up
// to and including that separator (empty without one), *file points at the
// rest of target. False when the directory part does not fit.
bool ZipSplitTarget(const wchar_t* target, wchar_t (&directory)[kZipMaxPath], const wchar_t** file);

}  // namespace qorv
