#include "workflow/BindCallback.h"

#include "Constants.h"
#include "view/MainView.h"
#include "workflow/Progress.h"
#include "workflow/Trace.h"

using namespace qorv;

STDMETHODIMP CBindCallback::QueryInterface(REFIID, void** object) {
    if (object != nullptr) *object = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CBindCallback::OnProgress(ULONG progress, ULONG progressMax, ULONG, LPCWSTR) {
    const int step = m_pView->m_nLoadingStep.load(std::memory_order_relaxed);
    TraceLog(kTraceLoadingStep, step);
    const ProgressReport report = ComputeProgress(progress, progressMax, step);
    m_pView->m_nPercent.store(report.percent, std::memory_order_relaxed);
    TraceLog(kTracePercent, report.percent);
    m_pView->Repaint();
    TraceLog(kTraceDownloaded, report.filePercent);
    return S_OK;
}
