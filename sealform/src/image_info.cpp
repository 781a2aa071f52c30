#include "image_info.h"

#include "kit/picture.h"
#include "kit/platform.h"
#include "kit/trace.h"

namespace sealform {

uint32_t GetImgInfo(std::u16string_view path, double* width, double* height) {
    static const char kName[] = "GetImgInfo";
    kit::trace("%s...1", kName);
    kit::trace("%s", kit::from_utf16(path).c_str());

    kit::PictureSize pixels;
    int error = 0;
    if (!kit::picture_pixel_size(path, pixels, error)) {
        kit::trace("%s...2.5::%d", kName, error);
        return kPictureNotLoaded;
    }
    const double w = pixels.width, h = pixels.height;
    kit::trace("%s...2.5.1::%d::%d", kName, pixels.width, pixels.height);

    // The steps go through the screen's size in inches and millimetres; keeping this order
    // keeps the rounding of the results.
    const kit::ScreenMetrics screen = kit::screen_metrics();
    const double sx = screen.width, sy = screen.height;
    kit::trace("%s...2.5.2::%f::%f", kName, sx, sy);
    const double dx = screen.dpi_x, dy = screen.dpi_y;
    kit::trace("%s...2.5.3::%f::%f", kName, dx, dy);
    const double ix = sx / dx, iy = sy / dy;
    kit::trace("%s...2.5.4::%f::%f", kName, ix, iy);
    const double mx = ix * 25.4, my = iy * 25.4;
    kit::trace("%s...2.5.5::%f::%f", kName, mx, my);
    const double px = sx / mx, py = sy / my;
    kit::trace("%s...2.5.6::%f::%f", kName, px, py);
    const double rw = w / px, rh = h / py;
    kit::trace("%s...2.5.7::%f::%f", kName, rw, rh);
    if (width) *width = rw;
    if (height) *height = rh;
    return 0;
}

}  // namespace sealform
