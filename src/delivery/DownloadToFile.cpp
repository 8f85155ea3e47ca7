#include "delivery/DownloadToFile.h"

#include <string>

#include "InstallNames.h"
#include "delivery/Download.h"
#include "delivery/WinInetTransport.h"
#include "services/FileSystem.h"

namespace qorv {

HRESULT DownloadToFile(const wchar_t* url, const wchar_t* path, uint64_t maxBytes,
                       DeliveryObserver& observer) {
    WinInetTransport transport;
    const HRESULT downloaded = DownloadUpTo(transport, url, path, maxBytes, observer);
    if (downloaded == S_OK) DeleteOneFile(std::wstring(path) + kResumeSuffix);
    return downloaded;
}

}  // namespace qorv
