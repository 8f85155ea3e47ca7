// Premultiplies 32-bit BGRA pixels by their alpha, as AlphaBlend with
// AC_SRC_ALPHA expects.
#pragma once

#include <cstdint>

namespace qorv {

// Each of blue, green and red becomes byte * alpha / 255, truncated; alpha
// stays. pitch is the byte distance between rows (negative for bottom-up).
// Nothing happens for a width or height of 0.
void PremultiplyPixels(uint8_t* bits, int width, int height, int pitch);

}  // namespace qorv
