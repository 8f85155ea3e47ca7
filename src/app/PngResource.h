// Decoding the PNG resources (type "PNG") of the executable.
#pragma once

#include <windows.h>

#include <gdiplus.h>

#include "app/Image.h"

namespace qorv {

// Decodes PNG resource `id` into `image` and premultiplies it. FALSE only
// when there is no image object or no such resource; a decoding failure
// leaves the image empty and still returns TRUE.
BOOL LoadPngImage(CImage* image, UINT id);

// Premultiplies every pixel's colour bytes by its alpha (32-bit images).
void PremultiplyAlpha(CImage* image);

// Starts GDI+ and creates a GDI+ image reading the artwork (PNG 130) from a
// stream that, with the memory under it, lives as long as the image. FALSE
// when the resource is missing or GDI+ does not start; *out is null then,
// and when the artwork does not decode.
BOOL LoadBackgroundImage(Gdiplus::GpImage** out);

}  // namespace qorv
