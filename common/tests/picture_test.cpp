// Pixel size of picture files through the platform's decoder (GDI+ on Windows, stb_image
// natively).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kit/picture.h"
#include "kit/platform.h"

namespace {

using Bytes = std::vector<uint8_t>;

// An uncompressed 24-bit BMP, grey.
Bytes bmp(int width, int height) {
    const uint32_t row = static_cast<uint32_t>((width * 3 + 3) & ~3);
    Bytes out(54 + row * static_cast<uint32_t>(height), 0x80);
    auto put = [&](size_t at, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put(2, static_cast<uint32_t>(out.size()), 4);
    put(6, 0, 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, static_cast<uint32_t>(width), 4);
    put(22, static_cast<uint32_t>(height), 4);
    put(26, 1, 2);
    put(28, 24, 2);
    put(30, 0, 4);
    put(34, row * static_cast<uint32_t>(height), 4);
    put(38, 3780, 4);
    put(42, 3780, 4);
    put(46, 0, 4);
    put(50, 0, 4);
    return out;
}

std::u16string wide(const std::string& path) { return kit::to_utf16(path, kit::kUtf8CodePage); }

TEST(PictureSize, ReadsThePixelSizeOfAPicture) {
    kit::TempFile file;
    Bytes picture = bmp(200, 100);
    ASSERT_TRUE(kit::write_whole_file(file.path(), picture.data(), picture.size()));
    kit::PictureSize size;
    int error = -1;
    ASSERT_TRUE(kit::picture_pixel_size(wide(file.path()), size, error));
    EXPECT_EQ(size.width, 200);
    EXPECT_EQ(size.height, 100);
}

TEST(PictureSize, RefusesFilesThatAreNotPictures) {
    kit::TempFile file;
    const std::string text = "not a picture at all\n";
    ASSERT_TRUE(kit::write_whole_file(file.path(), text.data(), text.size()));
    kit::PictureSize size;
    int error = 0;
    EXPECT_FALSE(kit::picture_pixel_size(wide(file.path()), size, error));
    EXPECT_EQ(size.width, 0);

    error = 0;
    EXPECT_FALSE(kit::picture_pixel_size(wide(kit::temp_directory() + "no-such-seal.png"), size, error));
    EXPECT_NE(error, 0) << "a missing file reports the system's error code";
}

}  // namespace
