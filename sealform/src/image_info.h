// GetImgInfo: how large a seal picture appears on the current screen, in millimetres.
#pragma once

#include <cstdint>
#include <string_view>

namespace sealform {

// Result of GetImgInfo for a file the image decoder cannot load.
constexpr uint32_t kPictureNotLoaded = 0x0A000001;

// Loads the picture at `path` and stores its physical width and height in millimetres on the
// screen (pixel size through the screen's size and logical resolution). 0 on success;
// kPictureNotLoaded with both outputs untouched when the file is not a picture.
uint32_t GetImgInfo(std::u16string_view path, double* width, double* height);

}  // namespace sealform
