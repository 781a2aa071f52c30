// Seal pictures measured from memory: the pixel size read from the picture's header, and the
// physical size it takes on the screen (GetImgInfo). Seal pictures come from keys and
// parameter documents, so they are hostile input: the reader looks only at the header bytes
// (PNG, JPEG, GIF, BMP), never decodes image data, and never reads past the bytes it is given.
// One reader serves every platform.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kit {

struct PictureSize {
    int width = 0;
    int height = 0;
};

// Largest side a picture may claim; larger claims are not measured.
constexpr int kMaxPictureSide = 1 << 24;

// The picture's width and height in pixels: from the IHDR chunk of a PNG, the first frame
// header (SOFn) of a JPEG, the logical screen of a GIF, the info header of a BMP (top-down
// bitmaps, whose height is negative, included). A picture that cannot be measured (another
// format, a damaged or cut header, a side of 0 or above kMaxPictureSide) gives 0 x 0.
PictureSize picture_pixel_size(const uint8_t* data, size_t size);

// Result of GetImgInfo for a picture that cannot be measured.
constexpr uint32_t kPictureNotLoaded = 0x0A000001;

// The picture's physical width and height in millimetres on the screen: its pixel size through
// the screen's size and logical resolution, as the steps traced under "GetImgInfo" show. 0 on
// success; kPictureNotLoaded with both outputs untouched when the picture cannot be measured.
uint32_t GetImgInfo(const uint8_t* data, size_t size, double* width, double* height);

}  // namespace kit
