// The program's small dialog layer: a dialog-template window with per-class
// message dispatch, run modally (with a loop of its own that gives
// PreTranslateMessage its chance) or created modeless.
#pragma once

#include <windows.h>

#include <atomic>

namespace qorv {

class CDialogEx {
public:
    CDialogEx(UINT templateId, CDialogEx* parent);
    virtual ~CDialogEx();
    CDialogEx(const CDialogEx&) = delete;
    CDialogEx& operator=(const CDialogEx&) = delete;

    INT_PTR DoModal();
    // Modeless creation from the template, owned by parent's window.
    BOOL Create(UINT templateId, CDialogEx* parent);
    // Ends the dialog: a modal one leaves its loop, a modeless one is hidden.
    // Callable from any thread.
    void EndDialog(int result);

    // Null once the window is destroyed; safe to read from any thread.
    HWND GetSafeHwnd() const { return m_window; }
    CDialogEx* GetParent() const { return m_parent; }

    BOOL ShowWindow(int command) { return ::ShowWindow(m_window, command); }
    BOOL MoveWindow(int x, int y, int width, int height, BOOL repaint) {
        return ::MoveWindow(m_window, x, y, width, height, repaint);
    }
    // Centres over a visible owner, else in the work area of the monitor.
    void CenterWindow();

    // Ends the dialog with IDCANCEL; for a modeless dialog that hides it.
    virtual void OnCancel();
    virtual void OnOK();

protected:
    // Attaches the dialog's controls to their members; run by OnInitDialog.
    virtual void DoDataExchange() {}
    virtual BOOL OnInitDialog();
    // Gives the dialog its keyboard handling (Tab, Enter, Escape) for
    // messages bound for its windows; TRUE when the message was consumed.
    virtual BOOL PreTranslateMessage(MSG* msg);
    // Per-class dispatch: returns true when the message was handled, with its
    // result in *result.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result);

    // Cleared on the GUI thread when the window goes while workers read it.
    std::atomic<HWND> m_window{nullptr};
    UINT m_templateId;
    CDialogEx* m_parent;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static CDialogEx* FromHandle(HWND hwnd);
    bool m_modal = false;
    std::atomic<bool> m_ended{false};
    INT_PTR m_modalResult = -1;
};

}  // namespace qorv
