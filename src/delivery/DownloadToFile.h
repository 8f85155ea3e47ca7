// Delivery over WinINet for the stages: a progress object of theirs as the
// observer, and the one-file download of the version file and the login.
#pragma once

#include <urlmon.h>

#include <cstdint>

#include "delivery/DeliveryObserver.h"

namespace qorv {

// Passes a delivery's progress to a stage's progress object (may be null) as
// OnProgress reports, whose result is not looked at, and pauses by sleeping.
// Fetched does nothing; a stage that needs it overrides it.
class BindStatusObserver : public DeliveryObserver {
public:
    explicit BindStatusObserver(IBindStatusCallback* callback) : m_callback(callback) {}

    void Progress(uint64_t done, uint64_t total) override;
    void Pause(uint32_t milliseconds) override;
    void Fetched(const FetchSummary&) override {}

private:
    IBindStatusCallback* m_callback;
};

// DownloadUpTo of url to path over WinINet, for a file that is read and
// done with (the resume tag goes once it is whole): progress reported to
// observer with 0 once the answer's headers are in and after every read (at
// most 64 KiB), with maximum 0 when the server sent no length. S_OK exactly
// on success; a failure gives INET_E_RESOURCE_NOT_FOUND for 404,
// INET_E_DOWNLOAD_FAILURE for another non-2xx status or a body cut short,
// kResultTooLarge for a file longer than maxBytes, or the transport's or the
// file's error.
[[nodiscard]] HRESULT DownloadToFile(const wchar_t* url, const wchar_t* path, uint64_t maxBytes,
                                     DeliveryObserver& observer);

}  // namespace qorv
