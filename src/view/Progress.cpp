#include "view/Progress.h"

namespace qorv {

ProgressReport ComputeProgress(uint32_t progress, uint32_t maximum, int loadingStep) {
    const int base = 33 * loadingStep - 33;
    if (maximum == 0) return {0, base};
    const int filePercent =
        static_cast<int>(static_cast<double>(progress) * 100.0 / static_cast<double>(maximum));
    return {filePercent, static_cast<int>(static_cast<double>(filePercent) * 0.3333 + base)};
}

}  // namespace qorv
