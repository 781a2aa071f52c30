// The picture reader: pixel sizes read from the header bytes of real pictures (made with
// ImageMagick at test time), compared with what the kit's earlier decoder (stb_image, kept here
// only as the reference) reported for the same bytes; hostile headers; and GetImgInfo's
// millimetres and traces.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_GIF
#include "kit/picture.h"

#include <gtest/gtest.h>
#include <stb/stb_image.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "kit/platform.h"

namespace {

using Bytes = std::vector<uint8_t>;

kit::PictureSize measure(const Bytes& bytes) {
    // An exact-size heap copy, so that a read past the end is caught by the sanitizers.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size() ? bytes.size() : 1]);
    if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
    return kit::picture_pixel_size(copy.get(), bytes.size());
}

// ImageMagick's convert making a picture of `width` x `height` in the format the output name
// says, with extra options; empty when convert is not there or fails.
Bytes convert(int width, int height, const std::string& options, const std::string& name) {
    const char* program = KIT_CONVERT_PROGRAM;
    if (!*program) return {};
    kit::TempFile folder_marker;
    const std::string out = folder_marker.path() + "-" + name;
    const std::string command = std::string(program) + " -size " + std::to_string(width) + "x" +
                                std::to_string(height) + " plasma:red-blue " + options + " '" +
                                out + "' >/dev/null 2>&1";
    Bytes bytes;
    if (std::system(command.c_str()) == 0) kit::read_whole_file(out, bytes);
    kit::remove_file(out);
    return bytes;
}

struct Sample {
    const char* what;
    int width, height;
    const char* options;
    const char* name;
};

const Sample kSamples[] = {
    {"PNG", 200, 100, "", "a.png"},
    {"interlaced PNG", 131, 77, "-interlace PNG", "b.png"},
    {"paletted PNG", 64, 300, "-colors 16 -type Palette", "c.png"},
    {"baseline JPEG", 320, 240, "-quality 85", "d.jpg"},
    {"progressive JPEG", 301, 199, "-interlace JPEG", "e.jpg"},
    {"JPEG with comment", 99, 101, "-set comment seal", "f.jpg"},
    {"GIF", 120, 45, "", "g.gif"},
    {"bottom-up BMP (v5 header)", 73, 41, "", "h.bmp"},
    {"BMP3 (40-byte header)", 50, 60, "-type TrueColor", "BMP3:i.bmp"},
    {"BMP2 (12-byte header)", 33, 22, "", "BMP2:j.bmp"},
};

bool have_convert() { return *KIT_CONVERT_PROGRAM != '\0'; }

TEST(PictureReader, RealPicturesMeasureAsTheEarlierDecoderMeasuredThem) {
    if (!have_convert()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    for (const Sample& s : kSamples) {
        SCOPED_TRACE(s.what);
        Bytes picture = convert(s.width, s.height, s.options, s.name);
        ASSERT_FALSE(picture.empty()) << "convert made no picture";
        kit::PictureSize size = measure(picture);
        EXPECT_EQ(size.width, s.width);
        EXPECT_EQ(size.height, s.height);
        int w = 0, h = 0, components = 0;
        ASSERT_TRUE(stbi_info_from_memory(picture.data(), static_cast<int>(picture.size()), &w, &h,
                                          &components));
        EXPECT_EQ(size.width, w);
        EXPECT_EQ(size.height, h);
    }
}

// Segments that cameras and editors put before the frame header: EXIF, an ICC profile, a
// comment and fill bytes between markers.
TEST(PictureReader, JpegSegmentsBeforeTheFrameHeaderAreSkipped) {
    if (!have_convert()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    Bytes jpeg = convert(257, 129, "-strip", "k.jpg");
    ASSERT_GE(jpeg.size(), 4u);
    auto segment = [](uint8_t marker, const std::string& body) {
        Bytes s{0xFF, marker, static_cast<uint8_t>((body.size() + 2) >> 8),
                static_cast<uint8_t>(body.size() + 2)};
        s.insert(s.end(), body.begin(), body.end());
        return s;
    };
    std::string exif("Exif\0\0MM\0*\0\0\0\x08", 14);
    exif += std::string(3000, '\xFF');  // marker-like bytes inside a segment are data
    Bytes extra = segment(0xE1, exif);
    Bytes icc = segment(0xE2, "ICC_PROFILE" + std::string(600, '\xC0'));
    extra.insert(extra.end(), icc.begin(), icc.end());
    extra.push_back(0xFF);  // fill byte
    Bytes comment = segment(0xFE, "made by a camera");
    extra.insert(extra.end(), comment.begin(), comment.end());
    jpeg.insert(jpeg.begin() + 2, extra.begin(), extra.end());

    kit::PictureSize size = measure(jpeg);
    EXPECT_EQ(size.width, 257);
    EXPECT_EQ(size.height, 129);
}

// A top-down bitmap stores its height negative. The earlier decoder's size query reported it as
// a negative height, which the kit took for "not a picture"; its true size is measured now.
TEST(PictureReader, TopDownBitmapHasItsPositiveHeight) {
    if (!have_convert()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    Bytes bmp = convert(73, 41, "-type TrueColor", "BMP3:l.bmp");
    ASSERT_GE(bmp.size(), 26u);
    const int32_t top_down = -41;
    std::memcpy(&bmp[22], &top_down, 4);  // little-endian on every machine the kit runs on
    kit::PictureSize size = measure(bmp);
    EXPECT_EQ(size.width, 73);
    EXPECT_EQ(size.height, 41);
    int w = 0, h = 0, components = 0;
    ASSERT_TRUE(
        stbi_info_from_memory(bmp.data(), static_cast<int>(bmp.size()), &w, &h, &components));
    EXPECT_EQ(h, -41) << "the earlier decoder's answer, which measured as nothing";
}

// A JPEG whose Huffman table segment declares more codes (16 x 17 = 272) than any table holds:
// the earlier decoder indexed past its tables building it. The reader never looks inside
// table segments.
TEST(PictureReader, JpegWithAnOverfullHuffmanTableGivesACleanResult) {
    Bytes jpeg{0xFF, 0xD8};
    Bytes dht{0xFF, 0xC4};
    Bytes body{0x00};  // DC table 0
    for (int i = 0; i < 16; ++i) body.push_back(17);
    for (int i = 0; i < 272; ++i) body.push_back(static_cast<uint8_t>(i));
    dht.push_back(static_cast<uint8_t>((body.size() + 2) >> 8));
    dht.push_back(static_cast<uint8_t>(body.size() + 2));
    dht.insert(dht.end(), body.begin(), body.end());
    jpeg.insert(jpeg.end(), dht.begin(), dht.end());
    const Bytes sof{0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x30, 0x00, 0x40, 0x03,
                    0x01, 0x11, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01};
    jpeg.insert(jpeg.end(), sof.begin(), sof.end());
    const Bytes sos_eoi{0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00, 0xFF, 0xD9};
    jpeg.insert(jpeg.end(), sos_eoi.begin(), sos_eoi.end());

    kit::PictureSize size = measure(jpeg);
    EXPECT_EQ(size.width, 64);
    EXPECT_EQ(size.height, 48);
    // Without its frame header the same picture cannot be measured.
    Bytes headless(jpeg.begin(), jpeg.begin() + 2 + static_cast<long>(dht.size()));
    headless.insert(headless.end(), sos_eoi.begin(), sos_eoi.end());
    EXPECT_EQ(measure(headless).width, 0);
}

// Every cut of a real picture either still holds the whole header (the right size) or gives
// 0 x 0; nothing is read past the cut.
TEST(PictureReader, CutPicturesGiveTheirSizeOrNothing) {
    if (!have_convert()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    for (const Sample& s : kSamples) {
        SCOPED_TRACE(s.what);
        Bytes picture = convert(s.width, s.height, s.options, s.name);
        ASSERT_FALSE(picture.empty());
        const size_t limit = std::min<size_t>(picture.size(), 4096);
        for (size_t cut = 0; cut < limit; ++cut) {
            kit::PictureSize size = measure(Bytes(picture.begin(), picture.begin() + cut));
            if (size.width == 0) {
                EXPECT_EQ(size.height, 0);
            } else {
                EXPECT_EQ(size.width, s.width) << "cut at " << cut;
                EXPECT_EQ(size.height, s.height) << "cut at " << cut;
            }
        }
    }
}

Bytes png_header(uint32_t width, uint32_t height, uint32_t ihdr_length = 13) {
    Bytes b{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto be32 = [&](uint32_t v) {
        for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    be32(ihdr_length);
    b.insert(b.end(), {'I', 'H', 'D', 'R'});
    be32(width);
    be32(height);
    b.insert(b.end(), {8, 2, 0, 0, 0, 0, 0, 0, 0});
    return b;
}

TEST(PictureReader, HeadersThatCannotBeMeasuredGiveZeroByZero) {
    Bytes bmp_rle{'B', 'M'};
    bmp_rle.resize(54, 0);
    bmp_rle[14] = 40;
    bmp_rle[18] = 10;  // width 10
    bmp_rle[22] = 10;  // height 10
    bmp_rle[26] = 1;   // planes
    bmp_rle[28] = 8;
    bmp_rle[30] = 1;  // run-length compressed
    Bytes bmp_ok = bmp_rle;
    bmp_ok[30] = 0;
    ASSERT_EQ(measure(bmp_ok).width, 10);

    const Bytes cases[] = {
        Bytes(),
        Bytes{'h', 'e', 'l', 'l', 'o'},
        Bytes(200, 0),
        Bytes{'B', 'M', 0, 0},
        bmp_rle,
        png_header(0, 10),
        png_header(10, 0),
        png_header(kit::kMaxPictureSide + 1, 10),
        png_header(10, 10, 14),
        Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 5, 0},
        Bytes{'G', 'I', 'F', '8', '8', 'a', 5, 0, 5, 0},
        Bytes{0xFF, 0xD8, 0xFF, 0xD9},                    // no frame before the end
        Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01},        // a length below 2
        Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xFF, 0x00},  // a segment longer than the bytes
        Bytes{0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x00, 0x00, 0x40},  // height 0
    };
    for (const Bytes& bytes : cases) {
        kit::PictureSize size = measure(bytes);
        EXPECT_EQ(size.width, 0) << bytes.size();
        EXPECT_EQ(size.height, 0) << bytes.size();
    }
    EXPECT_EQ(kit::picture_pixel_size(nullptr, 100).width, 0);
    EXPECT_EQ(measure(png_header(kit::kMaxPictureSide, 1)).width, kit::kMaxPictureSide);
}

class GetImgInfoTest : public ::testing::Test {
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
    std::string log() {
        Bytes data;
        kit::read_whole_file(log_.path(), data);
        return std::string(data.begin(), data.end());
    }
    kit::TempFile log_;
};

TEST_F(GetImgInfoTest, PictureSizeInMillimetresAtTheScreensResolution) {
    const Bytes picture = png_header(200, 100);
    double w = 0, h = 0;
    ASSERT_EQ(kit::GetImgInfo(picture.data(), picture.size(), &w, &h), 0u);
    EXPECT_NEAR(w, 52.916666666666, 1e-9);
    EXPECT_NEAR(h, 26.458333333333, 1e-9);
    EXPECT_NE(log().find("GetImgInfo...1\n"), std::string::npos) << log();
    EXPECT_NE(log().find("GetImgInfo...2.5.1::200::100"), std::string::npos) << log();
    EXPECT_NE(log().find("GetImgInfo...2.5.2::1920.000000::1080.000000"), std::string::npos);
    EXPECT_NE(log().find("GetImgInfo...2.5.7::52.916667::26.458333"), std::string::npos);

    ::setenv("KIT_SCREEN_DPI", "120", 1);
    ASSERT_EQ(kit::GetImgInfo(picture.data(), picture.size(), &w, &h), 0u);
    EXPECT_NEAR(w, 42.333333333333, 1e-9);
    EXPECT_NEAR(h, 21.166666666666, 1e-9);

    // Horizontal and vertical resolutions apply to their own axis; the screen's pixel size
    // cancels out.
    ::setenv("KIT_SCREEN_DPI", "96x120", 1);
    ::setenv("KIT_SCREEN", "2560x1440", 1);
    ASSERT_EQ(kit::GetImgInfo(picture.data(), picture.size(), &w, &h), 0u);
    EXPECT_NEAR(w, 52.916666666666, 1e-9);
    EXPECT_NEAR(h, 21.166666666666, 1e-9);
}

TEST_F(GetImgInfoTest, PictureThatCannotBeMeasuredLeavesTheOutputsUntouched) {
    const Bytes not_pictures[] = {Bytes{'h', 'e', 'l', 'l', 'o', '\n'}, Bytes(), Bytes(200, 0x00),
                                  Bytes{'B', 'M', 0, 0}};
    for (const Bytes& bytes : not_pictures) {
        double w = -1, h = -2;
        EXPECT_EQ(kit::GetImgInfo(bytes.data(), bytes.size(), &w, &h), kit::kPictureNotLoaded);
        EXPECT_EQ(w, -1);
        EXPECT_EQ(h, -2);
    }
    EXPECT_NE(log().find("GetImgInfo...2.5::0"), std::string::npos) << log();
}

}  // namespace
