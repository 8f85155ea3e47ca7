#include "app/PngResource.h"

#include <cstring>

#include "ResourceIds.h"
#include "app/Premultiply.h"

namespace qorv {

namespace {

constexpr HRESULT kResultNoResource =
    static_cast<HRESULT>(0x80070716);  // HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND)

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

HRESULT LoadPngImage(CImage* image, UINT id) {
    if (image == nullptr) return E_POINTER;
    image->Destroy();
    PngBytes png;
    if (!FindPng(id, &png)) return kResultNoResource;

    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, png.size);
    if (block == nullptr) return E_OUTOFMEMORY;
    void* copy = GlobalLock(block);
    if (copy == nullptr) {
        GlobalFree(block);
        return E_OUTOFMEMORY;
    }
    memcpy(copy, png.data, png.size);
    GlobalUnlock(block);

    // The stream frees the block on its final release; the decoded image
    // keeps neither.
    IStream* stream = nullptr;
    HRESULT loaded = CreateStreamOnHGlobal(block, TRUE, &stream);
    if (loaded == S_OK) {
        loaded = image->Load(stream);
        stream->Release();
    } else {
        GlobalFree(block);
    }
    PremultiplyAlpha(image);
    return loaded;
}

void PremultiplyAlpha(CImage* image) {
    if (image == nullptr || image->IsNull() || image->GetBPP() != 32) return;
    PremultiplyPixels(image->GetBits(), image->GetWidth(), image->GetHeight(), image->GetPitch());
}

HRESULT LoadBackgroundImage(Gdiplus::GpImage** out) {
    *out = nullptr;
    PngBytes png;
    if (!StartGdiplus()) return E_FAIL;
    if (!FindPng(kIdPngBackground, &png)) return kResultNoResource;
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, png.size);
    if (block == nullptr) return E_OUTOFMEMORY;
    memcpy(block, png.data, png.size);
    // The GDI+ image reads from the stream for its whole life, which ends
    // only with the host window: neither the stream nor the block is ever
    // released.
    IStream* stream = nullptr;
    const HRESULT streamed = CreateStreamOnHGlobal(block, FALSE, &stream);
    if (streamed != S_OK) {
        GlobalFree(block);
        return streamed;
    }
    Gdiplus::GpImage* image = nullptr;
    if (Gdiplus::DllExports::GdipLoadImageFromStream(stream, &image) != Gdiplus::Ok) {
        // Nothing holds the stream: give it and its block back.
        stream->Release();
        GlobalFree(block);
        return E_FAIL;
    }
    *out = image;
    return S_OK;
}

}  // namespace qorv
