#include "app/Image.h"

#include <gdiplus.h>

#include <utility>

namespace qorv {

namespace gp = Gdiplus::DllExports;

bool StartGdiplus() {
    // Function-local: the first decoding starts GDI+; the windows and the
    // images live until the process ends, so it is never shut down.
    static const bool started = [] {
        ULONG_PTR token = 0;
        Gdiplus::GdiplusStartupInput input;
        return Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    }();
    return started;
}

HRESULT CImage::Load(IStream* stream) {
    Destroy();
    if (!StartGdiplus()) return E_FAIL;
    GdiplusObject<Gdiplus::GpBitmap> source;
    if (gp::GdipCreateBitmapFromStream(stream, source.Receive()) != Gdiplus::Ok) return E_FAIL;

    UINT width = 0;
    UINT height = 0;
    Gdiplus::PixelFormat format = 0;
    gp::GdipGetImageWidth(source.Get(), &width);
    gp::GdipGetImageHeight(source.Get(), &height);
    gp::GdipGetImagePixelFormat(source.Get(), &format);

    HRESULT result = E_FAIL;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    GdiObject<HBITMAP> bitmap(
        width > 0 && height > 0 && width <= 0x7FFF && height <= 0x7FFF
            ? CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0)
            : nullptr);
    if (bitmap.IsValid()) {
        // GDI+ writes straight-alpha BGRA rows directly into the section.
        Gdiplus::Rect rect(0, 0, static_cast<INT>(width), static_cast<INT>(height));
        Gdiplus::BitmapData data = {};
        data.Width = width;
        data.Height = height;
        data.Stride = static_cast<INT>(width * 4);
        data.PixelFormat = PixelFormat32bppARGB;
        data.Scan0 = bits;
        if (gp::GdipBitmapLockBits(source.Get(), &rect,
                                   Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                                   PixelFormat32bppARGB, &data) == Gdiplus::Ok) {
            gp::GdipBitmapUnlockBits(source.Get(), &data);
            m_bitmap = std::move(bitmap);
            m_bits = static_cast<BYTE*>(bits);
            m_width = static_cast<int>(width);
            m_height = static_cast<int>(height);
            m_hasAlpha = Gdiplus::IsAlphaPixelFormat(format) != FALSE;
            result = S_OK;
        }
    }
    return result;
}

void CImage::Destroy() {
    m_bitmap.Reset();
    m_bits = nullptr;
    m_width = 0;
    m_height = 0;
    m_hasAlpha = false;
}

BOOL CImage::Draw(HDC dc, int x, int y, int width, int height) const {
    if (IsNull()) return FALSE;
    MemoryDc source(dc);
    if (source.Get() == nullptr) return FALSE;
    SelectedObject selected(source.Get(), m_bitmap.Get());
    if (m_hasAlpha) {
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        return AlphaBlend(dc, x, y, width, height, source.Get(), 0, 0, m_width, m_height, blend);
    }
    return StretchBlt(dc, x, y, width, height, source.Get(), 0, 0, m_width, m_height, SRCCOPY);
}

}  // namespace qorv
