// qorv-fetch URL PATH: runs one package download and prints every progress
// report as "progress=P max=M", then "result=0x........", for the download
// tests to check against what the server sent.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>

#include "ProgressStandIn.h"
#include "delivery/Download.h"
#include "delivery/DownloadToFile.h"

using namespace qorv;

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 3) {
        std::fprintf(stderr, "usage: qorv-fetch URL PATH\n");
        return 2;
    }
    ProgressStandIn progress(true);
    HRESULT hr = qorv::DownloadToFile(argv[1], argv[2], kMaxFileBytes, progress);
    std::printf("result=0x%08lX\n", static_cast<unsigned long>(hr));
    LocalFree(argv);
    return hr == S_OK ? 0 : 1;
}
