// Pixel size of a picture file, the platform's image decoder reading it: GDI+ on Windows,
// stb_image natively (PNG, JPEG, BMP and GIF, the formats GDI+ opens everywhere). Only the
// size is read; the pixels are not used.
#pragma once

#include <string_view>

namespace kit {

struct PictureSize {
    int width = 0;
    int height = 0;
};

// True with the size when the file is a picture the decoder opens. False otherwise, with
// `error` set to the system error code of the failure (0 when the file opened but is not a
// picture).
bool picture_pixel_size(std::u16string_view path, PictureSize& size, int& error);

}  // namespace kit
