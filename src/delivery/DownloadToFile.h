// The one-file download over WinINet of the version file and the login.
#pragma once

#include <cstdint>

#include "delivery/DeliveryObserver.h"
#include "services/Hresult.h"

namespace qorv {

// DownloadUpTo of url to path over WinINet, for a file that is read and
// done with (the resume tag goes once it is whole): progress reported to
// observer with 0 once the answer's headers are in and after every read (at
// most 64 KiB), with maximum 0 when the server sent no length. S_OK exactly
// on success; a failure gives kResultNotFound for 404,
// kResultDownloadFailed for another non-2xx status or a body cut short,
// kResultTooLarge for a file longer than maxBytes, or the transport's or the
// file's error.
[[nodiscard]] HRESULT DownloadToFile(const wchar_t* url, const wchar_t* path, uint64_t maxBytes,
                                     DeliveryObserver& observer);

}  // namespace qorv
