// PNG images from the resources, decoded with GDI+.
#pragma once

#include <windows.h>

// Keeps GDI+ started for its lifetime.
class GdiplusSession {
  public:
    GdiplusSession();
    ~GdiplusSession();
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

  private:
    ULONG_PTR m_token = 0;
};

// Decodes the resource (module null = the program) of the given type, for example "PNG", into
// a new 32-bit bitmap. With a width and height, a picture of another size is resampled to that
// size with a high-quality bicubic filter (a larger drawing made smaller for a screen's scale).
// Returns null, silently, when any step fails.
HBITMAP LoadPngResource(HMODULE module, UINT id, const wchar_t* type, int width = 0,
                        int height = 0);
