#include "view/BarGeometry.h"

#include <cstdint>

namespace qorv {

int BarWidth(int percent, int fullWidth) {
    // 64-bit product: a wild percentage from a broken server must clamp, not
    // overflow.
    int64_t width = static_cast<int64_t>(percent) * fullWidth / 100;
    if (width < 1) width = 1;
    if (width > fullWidth) width = fullWidth;
    return static_cast<int>(width);
}

}  // namespace qorv
