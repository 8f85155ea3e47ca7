// The host window: a borderless layered window that shows the artwork with
// per-pixel transparency and owns the progress view lying over it.
#pragma once

#include <windows.h>

#include <gdiplus.h>

#include "app/DialogEx.h"
#include "app/GdiHandles.h"

namespace qorv {

class MainView;

class CQorvInstallDlg : public CDialogEx {
public:
    CQorvInstallDlg();

    // Escape keeps the window open while work runs; once a stage has failed,
    // Escape closes it and a click starts the run again. Everything else is
    // the dialog's.
    BOOL PreTranslateMessage(MSG* msg) override;
    // Enter does nothing.
    void OnOK() override {}

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

private:
    // Puts the artwork on the screen once through UpdateLayeredWindow.
    void DrawLayeredBackground();

    MainView* m_pView = nullptr;
    HICON m_hIcon;
    GdiplusObject<Gdiplus::GpImage> m_background;
};

}  // namespace qorv
