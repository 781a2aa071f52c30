// Picture size through GDI+. GDI+ is started once per process, under a lock, on first use;
// it is not shut down, because shutting it down while a module unloads is not allowed.
#include <windows.h>
// GDI+'s headers need the COM property types that WIN32_LEAN_AND_MEAN leaves out, and min/max
// that NOMINMAX removes.
#include <objidl.h>

#include <algorithm>
using std::max;
using std::min;
#include <gdiplus.h>

#include <mutex>
#include <string>

#include "kit/picture.h"

namespace kit {
namespace {

bool start_gdiplus() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        ULONG_PTR token = 0;
        Gdiplus::GdiplusStartupInput input;
        started = Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;
    });
    return started;
}

}  // namespace

bool picture_pixel_size(std::u16string_view path, PictureSize& size, int& error) {
    if (!start_gdiplus()) {
        error = static_cast<int>(GetLastError());
        return false;
    }
    std::wstring wide(path.begin(), path.end());
    Gdiplus::GpBitmap* bitmap = nullptr;
    SetLastError(0);
    Gdiplus::Status status = Gdiplus::DllExports::GdipCreateBitmapFromFile(wide.c_str(), &bitmap);
    if (status != Gdiplus::Ok || !bitmap) {
        DWORD last = GetLastError();
        error = last ? static_cast<int>(last) : static_cast<int>(status);
        return false;
    }
    UINT w = 0, h = 0;
    Gdiplus::DllExports::GdipGetImageWidth(bitmap, &w);
    Gdiplus::DllExports::GdipGetImageHeight(bitmap, &h);
    Gdiplus::DllExports::GdipDisposeImage(bitmap);
    if (w == 0 || h == 0) {
        error = 0;
        return false;
    }
    size.width = static_cast<int>(w);
    size.height = static_cast<int>(h);
    return true;
}

}  // namespace kit
