// The program's string resources (the server base URLs).
#pragma once

#include <string>

namespace qorv {

// The text of a string resource of the running program, of any length; empty
// when missing.
std::wstring LoadResourceString(unsigned id);

}  // namespace qorv
