// HRESULT on every build: delivery reports its results as the Windows calls
// under it do, so a stage traces one kind of code whatever failed.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdint>
using HRESULT = int32_t;
constexpr HRESULT S_OK = 0;
#endif

namespace qorv {

// The results delivery makes itself; the others come from the calls below it.
constexpr HRESULT kResultNotFound = static_cast<HRESULT>(0x800C0005);  // INET_E_RESOURCE_NOT_FOUND
// INET_E_DOWNLOAD_FAILURE: another status than asked for, a body cut short,
// an answer that contradicts itself.
constexpr HRESULT kResultDownloadFailed = static_cast<HRESULT>(0x800C0008);
// HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE): a length the 32-bit progress
// counters cannot carry.
constexpr HRESULT kResultTooLarge = static_cast<HRESULT>(0x800700DF);
constexpr HRESULT kResultFailed = static_cast<HRESULT>(0x80004005);  // E_FAIL

}  // namespace qorv
