#include "app/DialogEx.h"

namespace qorv {

namespace {

// The class atom of every dialog window.
constexpr ATOM kDialogClassAtom = 32770;

bool ReturnsResultDirectly(UINT message) {
    // Dialog procedures return these results themselves rather than through
    // DWLP_MSGRESULT.
    return (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) ||
           message == WM_QUERYDRAGICON || message == WM_COMPAREITEM || message == WM_VKEYTOITEM ||
           message == WM_CHARTOITEM || message == WM_INITDIALOG;
}

}  // namespace

CDialogEx::CDialogEx(UINT templateId, CDialogEx* parent)
    : m_templateId(templateId), m_parent(parent) {}

CDialogEx::~CDialogEx() {
    if (m_window != nullptr) DestroyWindow(m_window);
}

CDialogEx* CDialogEx::FromHandle(HWND hwnd) {
    if (hwnd == nullptr || GetClassLongW(hwnd, GCW_ATOM) != kDialogClassAtom) return nullptr;
    return reinterpret_cast<CDialogEx*>(GetWindowLongPtrW(hwnd, DWLP_USER));
}

INT_PTR CDialogEx::DoModal() {
    m_modal = true;
    m_ended = false;
    HWND parent = m_parent != nullptr ? m_parent->GetSafeHwnd() : nullptr;
    HWND hwnd = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId),
                                   parent, DialogProc, reinterpret_cast<LPARAM>(this));
    if (hwnd == nullptr) return -1;

    // The loop runs until EndDialog; each message is first offered to the
    // dialog that owns its window, so the windows' keyboard handling applies.
    MSG msg;
    while (!m_ended) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        CDialogEx* target = FromHandle(GetAncestor(msg.hwnd, GA_ROOT));
        if (target == nullptr) target = this;
        if (!target->PreTranslateMessage(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    if (m_window != nullptr) DestroyWindow(m_window);
    return m_modalResult;
}

BOOL CDialogEx::Create(UINT templateId, CDialogEx* parent) {
    m_templateId = templateId;
    HWND hwnd = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId),
                                   parent != nullptr ? parent->GetSafeHwnd() : nullptr, DialogProc,
                                   reinterpret_cast<LPARAM>(this));
    return hwnd != nullptr;
}

void CDialogEx::EndDialog(int result) {
    if (m_modal) {
        m_modalResult = result;
        m_ended = true;
        // Wakes the loop when this runs on another thread.
        PostMessageW(m_window, WM_NULL, 0, 0);
    }
    ::EndDialog(m_window, result);
}

void CDialogEx::CenterWindow() {
    RECT area;
    HWND owner = GetWindow(m_window, GW_OWNER);
    if (owner != nullptr && IsWindowVisible(owner) && !IsIconic(owner)) {
        GetWindowRect(owner, &area);
    } else {
        MONITORINFO monitor = {};
        monitor.cbSize = sizeof monitor;
        GetMonitorInfoW(MonitorFromWindow(m_window, MONITOR_DEFAULTTOPRIMARY), &monitor);
        area = monitor.rcWork;
    }
    RECT window;
    GetWindowRect(m_window, &window);
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    const int x = area.left + (area.right - area.left - width) / 2;
    const int y = area.top + (area.bottom - area.top - height) / 2;
    SetWindowPos(m_window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CDialogEx::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialogEx::OnOK() {
    EndDialog(IDOK);
}

BOOL CDialogEx::OnInitDialog() {
    DoDataExchange();
    return TRUE;
}

BOOL CDialogEx::PreTranslateMessage(MSG* msg) {
    if (msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST) return FALSE;
    return IsDialogMessageW(m_window, msg);
}

bool CDialogEx::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR* result) {
    // OK and Cancel come as buttons, Enter and Escape, or (Cancel) WM_CLOSE.
    if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return false;
    if (LOWORD(wParam) == IDOK) {
        OnOK();
    } else if (LOWORD(wParam) == IDCANCEL) {
        OnCancel();
    } else {
        return false;
    }
    *result = 0;
    return true;
}

INT_PTR CALLBACK CDialogEx::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialogEx* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialogEx*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->m_window = hwnd;
        return self->OnInitDialog();
    }
    self = reinterpret_cast<CDialogEx*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (self == nullptr) return FALSE;
    if (message == WM_NCDESTROY) {
        self->m_window = nullptr;
        return FALSE;
    }
    INT_PTR result = 0;
    if (!self->OnMessage(message, wParam, lParam, &result)) return FALSE;
    if (ReturnsResultDirectly(message)) return result;
    SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}

}  // namespace qorv
