// The program's small dialog layer: a dialog-template window with per-class
// message dispatch, run modally (with a loop of its own that gives
// PreTranslateMessage its chance) or created modeless.
#pragma once

#include <windows.h>

class CDialogEx {
public:
    CDialogEx(UINT templateId, CDialogEx* parent);
    virtual ~CDialogEx();
    CDialogEx(const CDialogEx&) = delete;
    CDialogEx& operator=(const CDialogEx&) = delete;

    INT_PTR DoModal();
    // Modeless creation from the template; a null parent means the
    // application's main window.
    BOOL Create(UINT templateId, CDialogEx* parent = nullptr);
    void EndDialog(int result);

    HWND GetSafeHwnd() const { return m_hWnd; }
    CDialogEx* GetParent() const { return m_pParentWnd; }

    // Ends the dialog with IDCANCEL; for a modeless dialog that hides it.
    virtual void OnCancel();
    virtual void OnOK();

protected:
    virtual BOOL OnInitDialog();
    virtual BOOL PreTranslateMessage(MSG* msg);
    // Per-class dispatch: returns true when the message was handled, with its
    // result in *result.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result);

    HWND m_hWnd = nullptr;
    UINT m_nIDTemplate;
    CDialogEx* m_pParentWnd;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    bool m_bModal = false;
    bool m_bEnded = false;
};
