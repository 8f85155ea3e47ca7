#include "view/MainView.h"

#include "PlayerTexts.h"
#include "ResourceIds.h"
#include "TraceTexts.h"
#include "app/GdiHandles.h"
#include "app/PngResource.h"
#include "services/InstallDirectory.h"
#include "services/ProcessStart.h"
#include "services/Trace.h"
#include "services/WorkerThread.h"
#include "view/BarGeometry.h"
#include "workflow/ShellStage.h"

namespace qorv {

MainView::MainView(CDialogEx* parent)
    : CDialogEx(kIddView, parent),
      m_nBarWidth(kBarWidth),
      m_nBarHeight(kBarHeight),
      m_nPercent(1),
      m_nLoadingStep(1),
      m_strInstallDir(InstallDirectory()) {
    // Before any worker exists: the trace needs its fallback file.
    TraceSetLogDirectory(m_strInstallDir);
}

MainView::~MainView() = default;

void MainView::DoDataExchange() {
    m_stText.Attach(GetDlgItem(m_window, kIdcStatusText));
}

BOOL MainView::OnInitDialog() {
    CDialogEx::OnInitDialog();
    m_pBarAnchor = GetDlgItem(m_window, kIdcBarAnchor);
    ::MoveWindow(m_pBarAnchor, kBarX, kBarY, 5, 5, TRUE);
    m_stText.MoveWindow(0, 154, 468, 30, TRUE);
    wchar_t status[256] = {};
    GetWindowTextW(m_stText.GetSafeHwnd(), status, 256);
    m_statusText = status;

    // Black is the colour key: wherever the view stays black, the host's
    // artwork shows through and takes the mouse.
    m_crKey = RGB(0, 0, 0);
    m_keyBrush.Reset(CreateSolidBrush(m_crKey));
    SetWindowLongW(m_window, GWL_EXSTYLE, GetWindowLongW(m_window, GWL_EXSTYLE) | WS_EX_LAYERED);
    SetLayeredWindowAttributes(m_window, m_crKey, 255, LWA_COLORKEY);

    StartStage(DownloadShellProc, L"DownloadShellProc");
    return TRUE;
}

HBRUSH MainView::OnCtlColor(UINT message, HDC dc, HWND control) {
    HBRUSH brush = reinterpret_cast<HBRUSH>(DefWindowProcW(
        m_window, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control)));
    if (GetDlgCtrlID(control) == kIdcStatusText) {
        SetTextColor(dc, RGB(255, 255, 255));
        SetBkMode(dc, TRANSPARENT);
        return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    }
    if (message == WM_CTLCOLORDLG) return m_keyBrush.Get();
    return brush;
}

void MainView::OnPaint() {
    // One read: the worker may store a new value meanwhile.
    const int width = BarWidth(m_nPercent, m_nBarWidth);
    TraceLog(kTraceWidth, width);

    LoadPngImage(&m_imgBar, kIdPngBar);
    {
        // The anchor only marks where the bar starts. Wine clips a Static's
        // context to its own 5 x 5 pixels, so the bar goes into the view's
        // context at the anchor's place, which gives the same pixels as the
        // anchor's unclipped context does on Windows.
        RECT anchor = {};
        GetWindowRect(m_pBarAnchor, &anchor);
        MapWindowPoints(nullptr, m_window, reinterpret_cast<POINT*>(&anchor), 1);
        WindowDc view(m_window);
        if (view.Get() != nullptr) {
            m_imgBar.Draw(view.Get(), anchor.left, anchor.top, width, m_nBarHeight);
        }
    }
    m_imgBar.Destroy();

    PAINTSTRUCT paint;
    BeginPaint(m_window, &paint);
    EndPaint(m_window, &paint);
}

void MainView::Repaint() {
    // A null handle would repaint every window on the desktop.
    HWND view = GetSafeHwnd();
    if (view != nullptr) InvalidateRect(view, nullptr, TRUE);
}

void MainView::StageFailed(const char* stage, const std::wstring& url, HRESULT result) {
    TraceLog(kTraceStageFailed, stage, static_cast<unsigned long>(result));
    TraceLogW(url.c_str());
    TraceLog(kTraceLineEnd);
    HWND view = GetSafeHwnd();
    if (view != nullptr) {
        PostMessageW(view, kWmStageFailed, reinterpret_cast<WPARAM>(kFailureText), 0);
    }
}

void MainView::InstallFailed(const std::wstring& text) {
    HWND view = GetSafeHwnd();
    if (view != nullptr) {
        m_failureText = text;
        PostMessageW(view, kWmStageFailed, reinterpret_cast<WPARAM>(m_failureText.c_str()), 0);
    }
}

void MainView::ShowWaiting(bool waiting) {
    HWND view = GetSafeHwnd();
    if (view != nullptr) {
        const wchar_t* text = waiting ? kWaitingText : m_statusText.c_str();
        PostMessageW(view, kWmStatus, reinterpret_cast<WPARAM>(text), 0);
    }
}

bool MainView::StartInstalledProgram(const std::wstring& commandLine) {
    const HRESULT started = StartProgram(commandLine);
    if (started == S_OK) return true;
    TraceLog(kTraceStartFailed, static_cast<unsigned long>(started));
    TraceLogW(commandLine.c_str());
    TraceLog(kTraceLineEnd);
    InstallFailed(kStartFailedText);
    return false;
}

void MainView::StartStage(UINT(__cdecl* stage)(LPVOID), const wchar_t* name) {
    const HRESULT started = StartWorkerThread(stage, this);
    if (started == S_OK) return;
    TraceLog(kTraceStartFailed, static_cast<unsigned long>(started));
    TraceLogW(name);
    TraceLog(kTraceLineEnd);
    InstallFailed(kInstallFailedText);
}

void MainView::OnStageFailed(const wchar_t* text) {
    ShowStatus(text);
    m_failed.store(true);
}

void MainView::ShowStatus(const wchar_t* text) {
    // The view is never erased: the old text goes under the colour key
    // before the new one is drawn, and the bar is left as it is.
    RECT area = {};
    GetWindowRect(m_stText.GetSafeHwnd(), &area);
    MapWindowPoints(nullptr, m_window, reinterpret_cast<POINT*>(&area), 2);
    {
        WindowDc view(m_window);
        if (view.Get() != nullptr) FillRect(view.Get(), &area, m_keyBrush.Get());
    }
    SetWindowTextW(m_stText.GetSafeHwnd(), text);
}

bool MainView::OnFailureGesture(const MSG& msg) {
    if (!HasFailed()) return false;
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
        PostMessageW(GetParent()->GetSafeHwnd(), WM_CLOSE, 0, 0);
        return true;
    }
    if (msg.message != WM_LBUTTONUP) return false;
    // The failed stage's worker has ended; the bar stays where it was.
    m_failed.store(false);
    m_restoreOnly = false;
    ShowStatus(m_statusText.c_str());
    m_nLoadingStep.store(1, std::memory_order_relaxed);
    StartStage(DownloadShellProc, L"DownloadShellProc");
    return true;
}

BOOL MainView::PreTranslateMessage(MSG* msg) {
    if (OnFailureGesture(*msg)) return TRUE;
    return CDialogEx::PreTranslateMessage(msg);
}

// Never erased: each paint blends over what earlier ones left.
BOOL MainView::OnEraseBkgnd(HDC) {
    return TRUE;
}

bool MainView::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) {
    switch (message) {
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
            *result = reinterpret_cast<INT_PTR>(
                OnCtlColor(message, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
            return true;
        case WM_PAINT:
            OnPaint();
            *result = 0;
            return true;
        case WM_ERASEBKGND:
            *result = OnEraseBkgnd(reinterpret_cast<HDC>(wParam));
            return true;
        case kWmStageFailed:
            OnStageFailed(reinterpret_cast<const wchar_t*>(wParam));
            *result = 0;
            return true;
        case kWmStatus:
            ShowStatus(reinterpret_cast<const wchar_t*>(wParam));
            *result = 0;
            return true;
        default:
            return CDialogEx::OnMessage(message, wParam, lParam, result);
    }
}

}  // namespace qorv
