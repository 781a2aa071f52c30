#include "kit/picture.h"

#include <cstring>

#include "kit/trace.h"

namespace kit {
namespace {

// Bounds-checked reads of the picture's bytes: a reader asks has() before it reads.
class Header {
  public:
    Header(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}
    bool has(size_t at, size_t n) const { return at <= size_ && n <= size_ - at; }
    uint8_t u8(size_t at) const { return data_[at]; }
    uint32_t be16(size_t at) const { return uint32_t{data_[at]} << 8 | data_[at + 1]; }
    uint32_t le16(size_t at) const { return uint32_t{data_[at + 1]} << 8 | data_[at]; }
    uint32_t be32(size_t at) const { return be16(at) << 16 | be16(at + 2); }
    uint32_t le32(size_t at) const { return le16(at + 2) << 16 | le16(at); }
    bool starts_with(const char* magic, size_t n, size_t at = 0) const {
        return has(at, n) && std::memcmp(data_ + at, magic, n) == 0;
    }

  private:
    const uint8_t* data_;
    size_t size_;
};

PictureSize sized(uint64_t width, uint64_t height) {
    if (width == 0 || height == 0 || width > kMaxPictureSide || height > kMaxPictureSide) return {};
    return {static_cast<int>(width), static_cast<int>(height)};
}

// The signature, then the IHDR chunk, which comes first: length 13, "IHDR", width, height
// (big-endian).
PictureSize png_size(const Header& h) {
    if (!h.has(8, 16) || h.be32(8) != 13 || !h.starts_with("IHDR", 4, 12)) return {};
    return sized(h.be32(16), h.be32(20));
}

bool is_frame_header(uint8_t marker) {
    // SOF0 to SOF15 except DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Segments from SOI on, skipped by their lengths without looking inside (tables, EXIF and the
// other application segments), up to the first frame header: length, precision, height,
// width (big-endian). Image data (SOS) or the end (EOI) before a frame header: not measurable.
PictureSize jpeg_size(const Header& h) {
    size_t at = 2;
    for (;;) {
        // A marker is 0xFF and a code; any number of 0xFF fill bytes may come first.
        if (!h.has(at, 2) || h.u8(at) != 0xFF) return {};
        while (h.has(at + 1, 1) && h.u8(at + 1) == 0xFF) ++at;
        if (!h.has(at + 1, 1)) return {};
        const uint8_t marker = h.u8(at + 1);
        at += 2;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length
        if (marker == 0xD8 || marker == 0xD9 || marker == 0xDA || marker == 0x00) return {};
        if (!h.has(at, 2)) return {};
        const uint32_t length = h.be16(at);
        if (length < 2) return {};
        if (is_frame_header(marker)) {
            if (length < 7 || !h.has(at, 7)) return {};
            return sized(h.be16(at + 5), h.be16(at + 3));
        }
        at += length;
    }
}

// The logical screen: width and height (little-endian) after "GIF87a" or "GIF89a".
PictureSize gif_size(const Header& h) {
    if (!h.has(0, 10) || !(h.starts_with("GIF87a", 6) || h.starts_with("GIF89a", 6))) return {};
    return sized(h.le16(6), h.le16(8));
}

// The file header, then the info header: its size (12 for the old core header with 16-bit
// sides, 40, 56, 108 or 124 with 32-bit signed sides), width, height (negative for a top-down
// bitmap), 1 plane. Run-length, JPEG and PNG compressed bitmaps are not measured: the platform
// decoders of the kit never opened them.
PictureSize bmp_size(const Header& h) {
    if (!h.starts_with("BM", 2) || !h.has(14, 4)) return {};
    const uint32_t header_size = h.le32(14);
    if (header_size == 12) {
        if (!h.has(18, 8) || h.le16(22) != 1) return {};
        return sized(h.le16(18), h.le16(20));
    }
    if (header_size != 40 && header_size != 56 && header_size != 108 && header_size != 124)
        return {};
    if (!h.has(18, 16) || h.le16(26) != 1) return {};
    const int32_t width = static_cast<int32_t>(h.le32(18));
    const int32_t height = static_cast<int32_t>(h.le32(22));
    const uint32_t bits = h.le16(28), compression = h.le32(30);
    if (compression == 1 || compression == 2 || compression >= 4) return {};
    if (compression == 3 && bits != 16 && bits != 32) return {};
    if (width <= 0 || height == INT32_MIN) return {};
    return sized(static_cast<uint64_t>(width),
                 static_cast<uint64_t>(height < 0 ? -int64_t{height} : height));
}

}  // namespace

PictureSize picture_pixel_size(const uint8_t* data, size_t size) {
    const Header h(data, size);
    if (h.starts_with("\x89PNG\r\n\x1A\n", 8)) return png_size(h);
    if (h.starts_with("\xFF\xD8", 2)) return jpeg_size(h);
    if (h.starts_with("GIF8", 4)) return gif_size(h);
    if (h.starts_with("BM", 2)) return bmp_size(h);
    return {};
}

uint32_t GetImgInfo(const uint8_t* data, size_t size, double* width, double* height) {
    static const char kName[] = "GetImgInfo";
    trace("%s...1", kName);
    trace("%s::%u bytes in memory", kName, static_cast<unsigned>(size));

    const PictureSize pixels = picture_pixel_size(data, size);
    if (pixels.width == 0) {
        trace("%s...2.5::%d", kName, 0);
        return kPictureNotLoaded;
    }
    const double w = pixels.width, h = pixels.height;
    trace("%s...2.5.1::%d::%d", kName, pixels.width, pixels.height);

    // The steps go through the screen's size in inches and millimetres; keeping this order
    // keeps the rounding of the results.
    const ScreenMetrics screen = screen_metrics();
    const double sx = screen.width, sy = screen.height;
    trace("%s...2.5.2::%f::%f", kName, sx, sy);
    const double dx = screen.dpi_x, dy = screen.dpi_y;
    trace("%s...2.5.3::%f::%f", kName, dx, dy);
    const double ix = sx / dx, iy = sy / dy;
    trace("%s...2.5.4::%f::%f", kName, ix, iy);
    const double mx = ix * 25.4, my = iy * 25.4;
    trace("%s...2.5.5::%f::%f", kName, mx, my);
    const double px = sx / mx, py = sy / my;
    trace("%s...2.5.6::%f::%f", kName, px, py);
    const double rw = w / px, rh = h / py;
    trace("%s...2.5.7::%f::%f", kName, rw, rh);
    if (width) *width = rw;
    if (height) *height = rh;
    return 0;
}

}  // namespace kit
