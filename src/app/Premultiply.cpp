#include "app/Premultiply.h"

#include <cstddef>

namespace qorv {

void PremultiplyPixels(uint8_t* bits, int width, int height, int pitch) {
    if (bits == nullptr || width <= 0 || height <= 0) return;
    for (int y = 0; y < height; ++y) {
        uint8_t* pixel = bits + static_cast<ptrdiff_t>(y) * pitch;
        for (int x = 0; x < width; ++x, pixel += 4) {
            const unsigned alpha = pixel[3];
            for (int c = 0; c < 3; ++c) pixel[c] = static_cast<uint8_t>(pixel[c] * alpha / 255);
        }
    }
}

}  // namespace qorv
