// Picture size through stb_image, which reads only the header of the file.
#include <stb/stb_image.h>

#include <cerrno>
#include <cstdio>

#include "kit/picture.h"
#include "kit/platform.h"

namespace kit {

bool picture_pixel_size(std::u16string_view path, PictureSize& size, int& error) {
    std::string native = from_utf16(path, kUtf8CodePage);
    FILE* f = std::fopen(native.c_str(), "rb");
    if (!f) {
        error = errno;
        return false;
    }
    int w = 0, h = 0, components = 0;
    int ok = stbi_info_from_file(f, &w, &h, &components);
    std::fclose(f);
    if (!ok || w <= 0 || h <= 0) {
        error = 0;
        return false;
    }
    size.width = w;
    size.height = h;
    return true;
}

}  // namespace kit
