#include "workflow/BindCallback.h"

#include <windows.h>

#include "TraceTexts.h"
#include "services/Trace.h"
#include "view/MainView.h"
#include "view/Progress.h"

namespace qorv {

void CBindCallback::OnProgress(uint32_t progress, uint32_t progressMax) {
    const int step = m_pView->m_nLoadingStep.load(std::memory_order_relaxed);
    TraceLog(kTraceLoadingStep, step);
    const ProgressReport report = ComputeProgress(progress, progressMax, step);
    // The stage's first report sets the bar, so a first install opens at the
    // stage's base (below the 1 the bar starts at). From there the bar never
    // goes back: a download that starts over, or the ranges after a
    // package's tail, report less than an earlier part did.
    const int shown = m_pView->m_nPercent.load(std::memory_order_relaxed);
    const int percent = !m_reported || report.percent > shown ? report.percent : shown;
    m_reported = true;
    m_pView->m_nPercent.store(percent, std::memory_order_relaxed);
    TraceLog(kTracePercent, percent);
    m_pView->Repaint();
    TraceLog(kTraceDownloaded, report.filePercent);
}

void StageObserver::Progress(uint64_t done, uint64_t total) {
    // Lengths above 4 GiB - 1 are refused before any report.
    if (m_callback != nullptr) {
        m_callback->OnProgress(static_cast<uint32_t>(done), static_cast<uint32_t>(total));
    }
}

void StageObserver::Pause(uint32_t milliseconds) {
    Sleep(milliseconds);
}

}  // namespace qorv
