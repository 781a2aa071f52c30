#include "png_loader.h"

#include <objidl.h>
#include <gdiplus.h>
#include <string.h>

GdiplusSession::GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok) token_ = 0;
}

GdiplusSession::~GdiplusSession() {
    if (token_) Gdiplus::GdiplusShutdown(token_);
}

HBITMAP LoadPngResource(HMODULE module, UINT id, const wchar_t* type) {
    if (!module) module = GetModuleHandleW(nullptr);
    HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!res) return nullptr;
    DWORD size = SizeofResource(module, res);
    if (size == 0) return nullptr;
    HGLOBAL loaded = LoadResource(module, res);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return nullptr;
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, size);
    if (!block) return nullptr;
    memcpy(reinterpret_cast<void*>(block), bytes, size);
    HBITMAP result = nullptr;
    IStream* stream = nullptr;
    if (SUCCEEDED(CreateStreamOnHGlobal(block, FALSE, &stream))) {
        Gdiplus::Bitmap* image = Gdiplus::Bitmap::FromStream(stream);
        if (image && image->GetLastStatus() == Gdiplus::Ok) {
            HBITMAP bmp = nullptr;
            if (image->GetHBITMAP(Gdiplus::Color(0, 0, 0, 0), &bmp) == Gdiplus::Ok) result = bmp;
        }
        delete image;
        stream->Release();
    }
    GlobalFree(block);
    return result;
}
