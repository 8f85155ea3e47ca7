// Scoped GDI and GDI+ handles: every device context, bitmap and GDI+ object
// the windows take is given back on every path.
#pragma once

#include <windows.h>

#include <gdiplus.h>

#include "services/UniqueHandle.h"

namespace qorv {

// A window's device context from GetDC, released with ReleaseDC.
class WindowDc {
public:
    explicit WindowDc(HWND hwnd) : m_window(hwnd), m_dc(GetDC(hwnd)) {}
    ~WindowDc() {
        if (m_dc != nullptr) ReleaseDC(m_window, m_dc);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC Get() const { return m_dc; }

private:
    HWND m_window;
    HDC m_dc;
};

// A memory device context from CreateCompatibleDC, deleted with DeleteDC.
class MemoryDc {
public:
    explicit MemoryDc(HDC compatible) : m_dc(CreateCompatibleDC(compatible)) {}
    ~MemoryDc() {
        if (m_dc != nullptr) DeleteDC(m_dc);
    }
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    HDC Get() const { return m_dc; }

private:
    HDC m_dc;
};

// An object selected into a device context, deselected at scope end.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : m_dc(dc), m_old(SelectObject(dc, object)) {}
    ~SelectedObject() {
        if (m_old != nullptr && m_old != HGDI_ERROR) SelectObject(m_dc, m_old);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_old;
};

// A GDI object owned outright (bitmap, brush), deleted with DeleteObject.
template <typename Object>
struct GdiObjectTraits {
    using Handle = Object;
    static Handle None() { return nullptr; }
    static bool IsValid(Handle handle) { return handle != nullptr; }
    static void Close(Handle handle) { DeleteObject(handle); }
};
template <typename Object>
using GdiObject = UniqueHandle<GdiObjectTraits<Object>>;

// A GDI+ object owned outright: an image or bitmap goes with
// GdipDisposeImage, a graphics context with GdipDeleteGraphics.
inline void DeleteGdiplusObject(Gdiplus::GpImage* image) {
    Gdiplus::DllExports::GdipDisposeImage(image);
}
inline void DeleteGdiplusObject(Gdiplus::GpGraphics* graphics) {
    Gdiplus::DllExports::GdipDeleteGraphics(graphics);
}
template <typename Object>
struct GdiplusObjectTraits {
    using Handle = Object*;
    static Handle None() { return nullptr; }
    static bool IsValid(Handle handle) { return handle != nullptr; }
    static void Close(Handle handle) { DeleteGdiplusObject(handle); }
};
template <typename Object>
using GdiplusObject = UniqueHandle<GdiplusObjectTraits<Object>>;

}  // namespace qorv
