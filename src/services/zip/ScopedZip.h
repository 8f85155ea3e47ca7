// The owner of a zip handle: closes it when it goes.
#pragma once

#include <memory>

#include "services/zip/ZipExtract.h"

namespace qorv {

struct ZipCloser {
    // A handle that ZipOpen gave closes without fail: nothing to report.
    void operator()(ZipHandleData* handle) const { ZipClose(handle); }
};
using ScopedZip = std::unique_ptr<ZipHandleData, ZipCloser>;

}  // namespace qorv
