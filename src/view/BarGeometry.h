// The progress bar's drawn width for an overall percentage.
#pragma once

namespace qorv {

// The bar's place in the window, in device pixels.
constexpr int kBarWidth = 441;
constexpr int kBarHeight = 5;
constexpr int kBarX = 14;
constexpr int kBarY = 186;

// percent x fullWidth / 100, truncated toward zero, then held to 1..fullWidth
// so even a start or a lowered report shows a sliver and nothing overruns the
// track. Integer arithmetic only.
int BarWidth(int percent, int fullWidth);

}  // namespace qorv
