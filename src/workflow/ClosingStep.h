// The end of a successful run, from a worker thread.
#pragma once

namespace qorv {

class MainView;

// Hides the view by its cancel handler, then posts WM_CLOSE to the host
// window, whose handling ends the program. Does not wait for it.
void RunClosingStep(MainView* view);

}  // namespace qorv
