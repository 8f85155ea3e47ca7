// The progress object of the download tool and the download benchmark: it
// answers as the stages' one does, without painting, and prints each report
// as "progress=P max=M" when asked to.
#pragma once

#include <urlmon.h>

#include <cstdio>

class ProgressStandIn : public IBindStatusCallback {
public:
    explicit ProgressStandIn(bool print) : m_print(print) {}

    STDMETHODIMP QueryInterface(REFIID, void** object) override {
        if (object != nullptr) *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return E_NOTIMPL; }
    STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP OnLowResource(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG, LPCWSTR) override {
        if (m_print) {
            std::printf("progress=%lu max=%lu\n", progress, progressMax);
            std::fflush(stdout);
        }
        return S_OK;
    }
    STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

private:
    bool m_print;
};
