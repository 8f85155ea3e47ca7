#include "delivery/DownloadToFile.h"

#include <string>

#include "Constants.h"
#include "delivery/Download.h"
#include "delivery/WinInetTransport.h"
#include "services/FileSystem.h"

namespace qorv {

void BindStatusObserver::Progress(uint64_t done, uint64_t total) {
    // Lengths above 4 GiB - 1 are refused before any report.
    if (m_callback != nullptr) {
        m_callback->OnProgress(static_cast<ULONG>(done), static_cast<ULONG>(total),
                               BINDSTATUS_DOWNLOADINGDATA, nullptr);
    }
}

void BindStatusObserver::Pause(uint32_t milliseconds) {
    Sleep(milliseconds);
}

HRESULT DownloadToFile(const wchar_t* url, const wchar_t* path, uint64_t maxBytes,
                       DeliveryObserver& observer) {
    WinInetTransport transport;
    const HRESULT downloaded = DownloadUpTo(transport, url, path, maxBytes, observer);
    if (downloaded == S_OK) DeleteOneFile(std::wstring(path) + kResumeSuffix);
    return downloaded;
}

}  // namespace qorv
