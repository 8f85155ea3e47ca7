// The progress view: a colour-keyed popup over the host window showing the
// status text and the golden bar, and the holder of the install state that
// the worker threads read and write.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "app/DialogEx.h"
#include "app/GdiHandles.h"
#include "app/Image.h"
#include "app/Static.h"

namespace qorv {

// Posted to the view by a worker whose stage stopped on a failure; wParam
// is the status text to show.
constexpr UINT kWmStageFailed = WM_APP + 1;
constexpr UINT kWmStatus = WM_APP + 2;

class MainView : public CDialogEx {
public:
    explicit MainView(CDialogEx* parent);
    ~MainView() override;

    // The launch step: login redirect, then the game client or the shell
    // program, then the closing step. Runs on the calling worker thread.
    void LaunchGame();

    // Asks for a repaint, from any thread; nothing once the view is gone.
    void Repaint();
    // A download stopped the stage: traces stage, url and result, then has
    // the GUI thread show the download failure and let Escape or a click
    // close the window.
    void StageFailed(const char* stage, const std::wstring& url, HRESULT result);
    // The install could not be completed (a package did not go in, a file
    // was in use, the disk was full, a program did not start; the caller
    // traced what): as StageFailed, with text shown. Nothing is started
    // after it.
    void InstallFailed(const std::wstring& text);
    // The status line says the run waits for the server (or, with false,
    // shows its usual text again), from any thread.
    void ShowWaiting(bool waiting);
    // Starts an installed program; when it cannot be started, traces the
    // command line with the result, calls InstallFailed and returns false.
    bool StartInstalledProgram(const std::wstring& commandLine);
    // Starts the next stage on a worker of its own; when no thread can be
    // made, traces the stage with the result and calls InstallFailed.
    void StartStage(UINT(__cdecl* stage)(LPVOID), const wchar_t* name);
    // True once the failure text is shown.
    bool HasFailed() const { return m_failed.load(); }
    // Once a stage has failed, on the GUI thread: Escape closes the window,
    // a left click starts the run again from the shell stage (what was
    // downloaded stays). False for every other message and before.
    bool OnFailureGesture(const MSG& msg);

    CImage m_imgBar;
    HWND m_pBarAnchor = nullptr;
    COLORREF m_crKey = 0;
    int m_nBarWidth;
    int m_nBarHeight;
    // Written by the workers, read by the paint on the GUI thread.
    std::atomic<int> m_nPercent;
    std::atomic<int> m_nLoadingStep;
    std::wstring m_strInstallDir;
    std::wstring m_strToken;
    std::wstring m_strPlatform;
    CStatic m_stText;
    // Set by the version stage before it starts the client stage for an
    // unchanged version: only missing client files are restored.
    bool m_restoreOnly = false;

protected:
    void DoDataExchange() override;
    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* msg) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;

private:
    HBRUSH OnCtlColor(UINT message, HDC dc, HWND control);
    void OnPaint();
    BOOL OnEraseBkgnd(HDC dc);
    void OnStageFailed(const wchar_t* text);
    // Puts text in the status line, over the old text.
    void ShowStatus(const wchar_t* text);

    // The view's own background: the colour key, valid while it can paint.
    GdiObject<HBRUSH> m_keyBrush;
    // The status line's own text, shown again when the run starts over.
    std::wstring m_statusText;
    // The text InstallFailed posts: written by a worker before the post,
    // read by the GUI thread after it.
    std::wstring m_failureText;
    std::atomic<bool> m_failed{false};
};

}  // namespace qorv
