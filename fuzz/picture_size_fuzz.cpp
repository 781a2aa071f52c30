// Arbitrary bytes through the picture reader: no read outside the bytes (they are given in a
// buffer of exactly their size), and a result that is either 0 x 0 or a size within the limit
// whose millimetres GetImgInfo computes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "kit/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[size]);
    if (size) std::memcpy(exact.get(), data, size);
    const kit::PictureSize s = kit::picture_pixel_size(exact.get(), size);
    const bool none = s.width == 0 && s.height == 0;
    const bool sized = s.width > 0 && s.height > 0 && s.width <= kit::kMaxPictureSide &&
                       s.height <= kit::kMaxPictureSide;
    if (!none && !sized) __builtin_trap();

    double w = -1, h = -1;
    const uint32_t rc = kit::GetImgInfo(exact.get(), size, &w, &h);
    if ((rc == 0) != sized) __builtin_trap();
    if (rc == 0 && !(w > 0 && h > 0)) __builtin_trap();
    if (rc != 0 && (w != -1 || h != -1)) __builtin_trap();
    return 0;
}
