// Decoding the PNG resources (type "PNG") of the executable.
#pragma once

#include <windows.h>

#include <gdiplus.h>

#include "app/Image.h"

namespace qorv {

// Decodes PNG resource `id` into `image` and premultiplies it. S_OK, or why
// not: no image object, no such resource, no memory, or the decoding's
// failure, which leaves the image empty.
HRESULT LoadPngImage(CImage* image, UINT id);

// Premultiplies every pixel's colour bytes by its alpha (32-bit images).
void PremultiplyAlpha(CImage* image);

// Starts GDI+ and creates a GDI+ image reading the artwork (PNG 130) from a
// stream that, with the memory under it, lives as long as the image. S_OK,
// or why not (GDI+ does not start, the resource is missing, the artwork does
// not decode); *out is null then.
HRESULT LoadBackgroundImage(Gdiplus::GpImage** out);

}  // namespace qorv
