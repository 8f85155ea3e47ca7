// A static text control of a dialog, attached by the dialog's data exchange.
#pragma once

#include <windows.h>

namespace qorv {

class CStatic {
public:
    void Attach(HWND hwnd) { m_window = hwnd; }
    HWND GetSafeHwnd() const { return m_window; }
    BOOL MoveWindow(int x, int y, int width, int height, BOOL repaint) {
        return ::MoveWindow(m_window, x, y, width, height, repaint);
    }

private:
    HWND m_window = nullptr;
};

}  // namespace qorv
