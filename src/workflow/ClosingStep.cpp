#include "workflow/ClosingStep.h"

#include "view/MainView.h"

namespace qorv {

void RunClosingStep(MainView* view) {
    view->OnCancel();
    PostMessageW(view->GetParent()->GetSafeHwnd(), WM_CLOSE, 0, 0);
}

}  // namespace qorv
