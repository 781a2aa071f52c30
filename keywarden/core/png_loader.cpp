#include "png_loader.h"

#include <objidl.h>
#include <gdiplus.h>
#include <string.h>

GdiplusSession::GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&m_token, &input, nullptr) != Gdiplus::Ok) m_token = 0;
}

GdiplusSession::~GdiplusSession() {
    if (m_token) Gdiplus::GdiplusShutdown(m_token);
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
