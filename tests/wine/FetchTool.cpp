// qorv-fetch URL PATH: runs one package download and prints every progress
// report as "progress=P max=M", then "result=0x........", for the download
// tests to check against what the server sent.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>

#include "workflow/PackageDownload.h"

namespace {

class PrintingCallback : public IBindStatusCallback {
public:
    STDMETHODIMP QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return E_NOTIMPL; }
    STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP OnLowResource(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG, LPCWSTR) override {
        std::printf("progress=%lu max=%lu\n", progress, progressMax);
        std::fflush(stdout);
        return S_OK;
    }
    STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }
};

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 3) {
        std::fprintf(stderr, "usage: qorv-fetch URL PATH\n");
        return 2;
    }
    PrintingCallback callback;
    HRESULT hr = qorv::DownloadToFile(argv[1], argv[2], &callback);
    std::printf("result=0x%08lX\n", static_cast<unsigned long>(hr));
    LocalFree(argv);
    return hr == S_OK ? 0 : 1;
}
