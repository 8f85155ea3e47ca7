// A decoded image: a 32-bit top-down DIB section with a straight alpha byte
// until PremultiplyAlpha runs, drawn with AlphaBlend.
#pragma once

#include <windows.h>

#include <objidl.h>

#include "app/GdiHandles.h"

namespace qorv {

class CImage {
public:
    CImage() = default;
    ~CImage() { Destroy(); }
    CImage(const CImage&) = delete;
    CImage& operator=(const CImage&) = delete;

    // Decodes a PNG (or any GDI+ format) from the stream; GDI+ starts on the
    // first decoding in the process. Returns S_OK or a failure code.
    HRESULT Load(IStream* stream);
    void Destroy();

    bool IsNull() const { return !m_bitmap.IsValid(); }
    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    int GetBPP() const { return 32; }
    int GetPitch() const { return m_width * 4; }
    BYTE* GetBits() const { return m_bits; }

    // Draws the whole image scaled into the destination rectangle: AlphaBlend
    // with premultiplied source alpha when the image has an alpha channel,
    // StretchBlt otherwise.
    BOOL Draw(HDC dc, int x, int y, int width, int height) const;

private:
    GdiObject<HBITMAP> m_bitmap;
    BYTE* m_bits = nullptr;
    int m_width = 0;
    int m_height = 0;
    bool m_hasAlpha = false;
};

// Starts GDI+ once for the process; it stays up until the process ends.
bool StartGdiplus();

}  // namespace qorv
