// The C runtime's text-mode reading, on every build.
#pragma once

#include <string>

namespace qorv {

// What a text-mode read returns for raw file bytes: every CR LF becomes LF
// and the data ends at the first Ctrl-Z (0x1A).
std::string TextModeBytes(const std::string& raw);

}  // namespace qorv
