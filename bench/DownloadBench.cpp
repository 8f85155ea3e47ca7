// The installer's own download routine alone: qorv::DownloadToFile fetches
// URL to PATH with a progress object that only answers, as the stages' does
// without the painting.
// Usage: qorv-download-bench URL PATH
#include <windows.h>

#include <cstdio>

#include "ProgressStandIn.h"
#include "delivery/Download.h"
#include "delivery/DownloadToFile.h"

using namespace qorv;

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("usage: qorv-download-bench URL PATH\n", stderr);
        return 2;
    }
    ProgressStandIn progress(false);
    const HRESULT hr = qorv::DownloadToFile(argv[1], argv[2], kMaxFileBytes, progress);
    if (hr != S_OK)
        std::fprintf(stderr, "download failed: 0x%08lX\n", static_cast<unsigned long>(hr));
    return hr == S_OK ? 0 : 1;
}
