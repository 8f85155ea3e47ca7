// The installer's own download routine alone: qorv::DownloadToFile fetches
// URL to PATH with a progress object that only answers, as the stages' does
// without the painting.
// Usage: qorv-download-bench URL PATH
#include <windows.h>

#include <cstdio>

#include "workflow/PackageDownload.h"

namespace {

class SilentCallback : public IBindStatusCallback {
public:
    STDMETHODIMP QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 0; }
    STDMETHODIMP_(ULONG) Release() override { return 0; }
    STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return E_NOTIMPL; }
    STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP OnLowResource(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override { return S_OK; }
    STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("usage: qorv-download-bench URL PATH\n", stderr);
        return 2;
    }
    SilentCallback callback;
    const HRESULT hr = qorv::DownloadToFile(argv[1], argv[2], &callback);
    if (hr != S_OK)
        std::fprintf(stderr, "download failed: 0x%08lX\n", static_cast<unsigned long>(hr));
    return hr == S_OK ? 0 : 1;
}
