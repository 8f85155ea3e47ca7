// The progress object of one stage's downloads, and the delivery observer
// that reports to it. Both live on the stage's stack for the length of the
// stage.
#pragma once

#include <cstdint>

#include "delivery/DeliveryObserver.h"

namespace qorv {

class MainView;

class CBindCallback {
public:
    explicit CBindCallback(MainView* view) : m_pView(view) {}

    // Folds the report into the view's overall percentage and asks for a
    // repaint: the first report as it is, later ones only where they move
    // the bar on.
    void OnProgress(uint32_t progress, uint32_t progressMax);

private:
    MainView* m_pView;
    bool m_reported = false;  // a report of this stage set the bar
};

// Passes a delivery's progress to a stage's progress object (may be null)
// and pauses by sleeping. Fetched does nothing; a stage that needs it
// overrides it.
class StageObserver : public DeliveryObserver {
public:
    explicit StageObserver(CBindCallback* callback) : m_callback(callback) {}

    void Progress(uint64_t done, uint64_t total) override;
    void Pause(uint32_t milliseconds) override;
    void Fetched(const FetchSummary&) override {}

private:
    CBindCallback* m_callback;
};

}  // namespace qorv
