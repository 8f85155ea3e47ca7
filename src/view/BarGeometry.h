// The progress bar's drawn width for an overall percentage.
#pragma once

namespace qorv {

// percent x fullWidth / 100, truncated toward zero, then held to 1..fullWidth
// so even a start or a lowered report shows a sliver and nothing overruns the
// track. Integer arithmetic only.
int BarWidth(int percent, int fullWidth);

}  // namespace qorv
