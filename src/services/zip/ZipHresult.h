// Where the zip layer's results meet the installer's rule (services/Hresult.h):
// a caller that reports a zip failure further up reports this HRESULT.
#pragma once

#include "services/Hresult.h"
#include "services/zip/ZipExtract.h"

namespace qorv {

// S_OK for ZipOk; else the Windows error nearest to what failed. A write
// that fails once the target is open is taken as the drive filling up, the
// one way it fails after the room was checked.
[[nodiscard]] HRESULT ZipResultToHresult(ZipResult result);

}  // namespace qorv
