// The progress object of one stage's downloads. It lives on the stage's stack
// for the length of the stage; it has no reference count.
#pragma once

#include <urlmon.h>

namespace qorv {

class MainView;

class CBindCallback : public IBindStatusCallback {
public:
    explicit CBindCallback(MainView* view) : m_pView(view) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 0; }
    STDMETHODIMP_(ULONG) Release() override { return 0; }
    STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return E_NOTIMPL; }
    STDMETHODIMP GetPriority(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP OnLowResource(DWORD) override { return E_NOTIMPL; }
    // Folds the report into the view's overall percentage and asks for a
    // repaint: the first report as it is, later ones only where they move
    // the bar on. Always S_OK, so a download is never cancelled from here.
    STDMETHODIMP OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                            LPCWSTR statusText) override;
    STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return E_NOTIMPL; }

private:
    MainView* m_pView;
    bool m_bReported = false;  // a report of this stage set the bar
};

}  // namespace qorv
