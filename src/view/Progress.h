// How one download's progress report folds into the bar's three bands.
#pragma once

#include <cstdint>

namespace qorv {

struct ProgressReport {
    int filePercent;  // of this file; 0 while the length is unknown
    int percent;      // overall, for MainView::m_nPercent
};

// Stage n owns the band from 33n - 33; a whole file adds 33 (factor 0.3333,
// not one third). Counters are unsigned; nothing is clamped.
ProgressReport ComputeProgress(uint32_t progress, uint32_t maximum, int loadingStep);

}  // namespace qorv
