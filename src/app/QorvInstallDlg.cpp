#include "app/QorvInstallDlg.h"

#include "InstallNames.h"
#include "ResourceIds.h"
#include "app/PngResource.h"
#include "view/MainView.h"

namespace qorv {

namespace gp = Gdiplus::DllExports;

namespace {

// The window's size in device pixels: the artwork's.
constexpr int kWindowWidth = 467;
constexpr int kWindowHeight = 218;

}  // namespace

CQorvInstallDlg::CQorvInstallDlg()
    : CDialogEx(kIddHost, nullptr),
      m_hIcon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kIdrMainFrame))) {}

BOOL CQorvInstallDlg::PreTranslateMessage(MSG* msg) {
    if (m_pView != nullptr && m_pView->OnFailureGesture(*msg)) return TRUE;
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) return TRUE;
    return CDialogEx::PreTranslateMessage(msg);
}

BOOL CQorvInstallDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    // Found by a second instance, which brings it to the front.
    SetPropW(m_window, kHostWindowProperty, m_window);
    SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    SetWindowLongW(m_window, GWL_EXSTYLE, GetWindowLongW(m_window, GWL_EXSTYLE) | WS_EX_LAYERED);

    LoadBackgroundImage(m_background.Receive());
    DrawLayeredBackground();
    MoveWindow(0, 0, kWindowWidth, kWindowHeight, FALSE);
    CenterWindow();

    // Never freed: the workers hold plain pointers to the view until the
    // process ends. Its dialog initialisation starts the first worker.
    m_pView = new MainView(this);
    m_pView->Create(kIddView, this);
    m_pView->ShowWindow(SW_SHOWNORMAL);
    m_pView->MoveWindow(0, 0, kWindowWidth, kWindowHeight, FALSE);
    m_pView->CenterWindow();
    return TRUE;
}

void CQorvInstallDlg::DrawLayeredBackground() {
    WindowDc screen(m_window);
    MemoryDc memory(screen.Get());
    if (screen.Get() == nullptr || memory.Get() == nullptr) return;

    // A 32-bit premultiplied surface: UpdateLayeredWindow takes each pixel's
    // alpha from it, which a screen-compatible bitmap would not keep.
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kWindowWidth;
    info.bmiHeader.biHeight = -kWindowHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    GdiObject<HBITMAP> surface(
        CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (surface.Get() == nullptr) return;

    if (m_background.IsValid()) {
        GdiplusObject<Gdiplus::GpBitmap> target;
        if (gp::GdipCreateBitmapFromScan0(kWindowWidth, kWindowHeight, kWindowWidth * 4,
                                          PixelFormat32bppPARGB, static_cast<BYTE*>(bits),
                                          target.Receive()) == Gdiplus::Ok) {
            GdiplusObject<Gdiplus::GpGraphics> graphics;
            if (gp::GdipGetImageGraphicsContext(target.Get(), graphics.Receive()) == Gdiplus::Ok) {
                gp::GdipDrawImageRectI(graphics.Get(), m_background.Get(), 0, 0, kWindowWidth,
                                       kWindowHeight);
            }
        }
    }

    SelectedObject selected(memory.Get(), surface.Get());
    POINT origin = {0, 0};
    SIZE size = {kWindowWidth, kWindowHeight};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    UpdateLayeredWindow(m_window, screen.Get(), &origin, &size, memory.Get(), &origin, 0, &blend,
                        ULW_ALPHA);
}

bool CQorvInstallDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) {
    switch (message) {
        case WM_PAINT: {
            // The layered update is the window's whole appearance.
            PAINTSTRUCT paint;
            BeginPaint(m_window, &paint);
            EndPaint(m_window, &paint);
            *result = 0;
            return true;
        }
        case WM_QUERYDRAGICON:
            *result = reinterpret_cast<INT_PTR>(m_hIcon);
            return true;
        default:
            return CDialogEx::OnMessage(message, wParam, lParam, result);
    }
}

}  // namespace qorv
