#include "app/PngResource.h"

#include <cstring>

#include "ResourceIds.h"
#include "app/Premultiply.h"

namespace qorv {

namespace {

struct PngBytes {
    const void* data;
    DWORD size;
};

// The resource's bytes, mapped for the life of the module.
bool FindPng(UINT id, PngBytes* png) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), kPngResourceType);
    if (info == nullptr) return false;
    HGLOBAL loaded = LoadResource(module, info);
    if (loaded == nullptr) return false;
    png->data = LockResource(loaded);
    png->size = SizeofResource(module, info);
    return png->data != nullptr && png->size > 0;
}

}  // namespace

BOOL LoadPngImage(CImage* image, UINT id) {
    if (image == nullptr) return FALSE;
    image->Destroy();
    PngBytes png;
    if (!FindPng(id, &png)) return FALSE;

    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, png.size);
    if (block == nullptr) return FALSE;
    void* copy = GlobalLock(block);
    if (copy == nullptr) {
        GlobalFree(block);
        return FALSE;
    }
    memcpy(copy, png.data, png.size);
    GlobalUnlock(block);

    // The stream frees the block on its final release; the decoded image
    // keeps neither.
    IStream* stream = nullptr;
    if (CreateStreamOnHGlobal(block, TRUE, &stream) == S_OK) {
        image->Load(stream);
        stream->Release();
    } else {
        GlobalFree(block);
    }
    PremultiplyAlpha(image);
    return TRUE;
}

void PremultiplyAlpha(CImage* image) {
    if (image == nullptr || image->IsNull() || image->GetBPP() != 32) return;
    PremultiplyPixels(image->GetBits(), image->GetWidth(), image->GetHeight(), image->GetPitch());
}

BOOL LoadBackgroundImage(Gdiplus::GpImage** out) {
    *out = nullptr;
    PngBytes png;
    if (!StartGdiplus()) return FALSE;
    if (!FindPng(kIdPngBackground, &png)) return FALSE;
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, png.size);
    if (block == nullptr) return FALSE;
    memcpy(block, png.data, png.size);
    // The GDI+ image reads from the stream for its whole life, which ends
    // only with the host window: neither the stream nor the block is ever
    // released.
    IStream* stream = nullptr;
    if (CreateStreamOnHGlobal(block, FALSE, &stream) != S_OK) {
        GlobalFree(block);
        return FALSE;
    }
    Gdiplus::GpImage* image = nullptr;
    if (Gdiplus::DllExports::GdipLoadImageFromStream(stream, &image) != Gdiplus::Ok) {
        // Nothing holds the stream: give it and its block back.
        stream->Release();
        GlobalFree(block);
        image = nullptr;
    }
    *out = image;
    return TRUE;
}

}  // namespace qorv
