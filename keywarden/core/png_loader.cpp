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

HBITMAP LoadPngResource(HMODULE module, UINT id, const wchar_t* type, int width, int height) {
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
            Gdiplus::Bitmap* sized = image;
            if (width > 0 && height > 0 &&
                (static_cast<int>(image->GetWidth()) != width ||
                 static_cast<int>(image->GetHeight()) != height)) {
                sized = new Gdiplus::Bitmap(width, height, PixelFormat32bppARGB);
                Gdiplus::Graphics g(sized);
                g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
                g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHighQuality);
                // Mirrored edges: the border pixels are not faded by the transparent outside.
                Gdiplus::ImageAttributes edges;
                edges.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
                g.DrawImage(image, Gdiplus::Rect(0, 0, width, height), 0, 0,
                            static_cast<INT>(image->GetWidth()),
                            static_cast<INT>(image->GetHeight()), Gdiplus::UnitPixel, &edges);
            }
            HBITMAP bmp = nullptr;
            if (sized->GetLastStatus() == Gdiplus::Ok &&
                sized->GetHBITMAP(Gdiplus::Color(0, 0, 0, 0), &bmp) == Gdiplus::Ok)
                result = bmp;
            if (sized != image) delete sized;
        }
        delete image;
        stream->Release();
    }
    GlobalFree(block);
    return result;
}
