// The folder part of an extraction target.
#pragma once

#include <string>

namespace qorv {

// Splits target after its last "\\" or "/": the result is everything up to
// and including that separator (empty without one), *file points at the
// rest of target.
std::wstring ZipSplitTarget(const wchar_t* target, const wchar_t** file);

}  // namespace qorv
