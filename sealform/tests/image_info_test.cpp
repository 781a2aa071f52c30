// GetImgInfo: the physical size of a picture on the screen, through the platform's decoder.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "image_info.h"
#include "kit/platform.h"
#include "maker_fixture.h"

namespace sealform {
namespace {

using testing::Bytes;

class ImageInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("RZLOG_FILE", log_.path().c_str(), 1);
        ::unsetenv("KIT_SCREEN");
        ::unsetenv("KIT_SCREEN_DPI");
    }
    void TearDown() override {
        ::unsetenv("RZLOG_FILE");
        ::unsetenv("KIT_SCREEN");
        ::unsetenv("KIT_SCREEN_DPI");
    }
    std::u16string write(const Bytes& bytes) {
        kit::write_whole_file(picture_.path(), bytes.data(), bytes.size());
        return kit::to_utf16(picture_.path(), kit::kUtf8CodePage);
    }
    std::string log() {
        Bytes data;
        kit::read_whole_file(log_.path(), data);
        return std::string(data.begin(), data.end());
    }
    static Bytes png_picture(int w, int h) {
        std::vector<uint8_t> rgb(static_cast<size_t>(w * h * 3), 0x80);
        Bytes out;
        stbi_write_png_to_func(
            [](void* ctx, void* data, int size) {
                auto* o = static_cast<Bytes*>(ctx);
                o->insert(o->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
            },
            &out, w, h, 3, rgb.data(), w * 3);
        return out;
    }

    kit::TempFile log_, picture_;
};

TEST_F(ImageInfoTest, PictureSizeInMillimetresAtTheScreensResolution) {
    double w = 0, h = 0;
    ASSERT_EQ(GetImgInfo(write(testing::bmp_picture(200, 100)), &w, &h), 0u);
    EXPECT_NEAR(w, 52.916666666666, 1e-9);
    EXPECT_NEAR(h, 26.458333333333, 1e-9);
    EXPECT_NE(log().find("GetImgInfo...2.5.1::200::100"), std::string::npos) << log();
    EXPECT_NE(log().find("GetImgInfo...2.5.2::1920.000000::1080.000000"), std::string::npos);
    EXPECT_NE(log().find("GetImgInfo...2.5.7::52.916667::26.458333"), std::string::npos);

    ::setenv("KIT_SCREEN_DPI", "120", 1);
    ASSERT_EQ(GetImgInfo(write(png_picture(200, 100)), &w, &h), 0u);
    EXPECT_NEAR(w, 42.333333333333, 1e-9);
    EXPECT_NEAR(h, 21.166666666666, 1e-9);

    // Horizontal and vertical resolutions apply to their own axis; the screen's pixel size
    // cancels out.
    ::setenv("KIT_SCREEN_DPI", "96x120", 1);
    ::setenv("KIT_SCREEN", "2560x1440", 1);
    ASSERT_EQ(GetImgInfo(write(png_picture(200, 100)), &w, &h), 0u);
    EXPECT_NEAR(w, 52.916666666666, 1e-9);
    EXPECT_NEAR(h, 21.166666666666, 1e-9);
}

TEST_F(ImageInfoTest, FileThatIsNotAPictureLeavesTheOutputsUntouched) {
    const Bytes not_pictures[] = {
        Bytes{'h', 'e', 'l', 'l', 'o', '\n'},
        Bytes(),
        Bytes(200, 0x00),
        Bytes{'B', 'M', 0, 0},  // a truncated BMP header
    };
    for (const Bytes& bytes : not_pictures) {
        double w = -1, h = -2;
        EXPECT_EQ(GetImgInfo(write(bytes), &w, &h), 0x0A000001u);
        EXPECT_EQ(w, -1);
        EXPECT_EQ(h, -2);
    }
    double w = -1, h = -2;
    EXPECT_EQ(GetImgInfo(u"/nonexistent/seal.png", &w, &h), kPictureNotLoaded);
    EXPECT_EQ(w, -1);
    EXPECT_NE(log().find("GetImgInfo...2.5::2"), std::string::npos) << "ENOENT is traced";
}

}  // namespace
}  // namespace sealform
