#include "services/zip/ZipHresult.h"

namespace qorv {

HRESULT ZipResultToHresult(ZipResult result) {
    constexpr HRESULT kWin32 = static_cast<HRESULT>(0x80070000);
    switch (result) {
        case ZipOk:
            return S_OK;
        case ZipErrFile:
            return kWin32 | 110;  // ERROR_OPEN_FAILED
        case ZipErrWrite:
            return kResultDiskFull;
        case ZipErrRead:
            return kWin32 | 30;  // ERROR_READ_FAULT
        case ZipErrCorrupt:
        case ZipErrPassword:
        case ZipErrInflate:
            return kWin32 | 13;  // ERROR_INVALID_DATA
        case ZipErrArgs:
        case ZipErrMode:
            return kWin32 | 87;  // ERROR_INVALID_PARAMETER
        default:
            return kResultFailed;
    }
}

}  // namespace qorv
