// Seals of every real size through every export a host calls: pictures of 1 KB to 1 MB read in
// all three modes through GetSealInfo (which keeps its 20480-byte contract) and
// GetSealInfo_WithCapacity (which takes the host's capacity), and their status online (a real
// registry service on loopback) and offline (the maker's signature).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "key_seal_maker.h"
#include "kit/base64.h"
#include "registry_session_test.h"

namespace sgtest {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class SealSizesTest : public RegistrySessionTest {
  protected:
    void SetUp() override {
        RegistrySessionTest::SetUp();
        start_registry("5");
        ASSERT_EQ(sg_.InitialSession(&device_), 1);
    }

    // A seal whose picture (a 64 x 64 BMP, padded) is `picture_bytes` long, stored on the key.
    MadeSeal add_seal(size_t picture_bytes, const std::string& esid) {
        SealOrder order;
        order.esid = esid;
        order.picture_width = 64;
        order.picture_height = 64;
        const size_t base = bmp_picture(64, 64).size();
        order.picture_padding = picture_bytes > base ? picture_bytes - base : 0;
        MadeSeal s = make_key_seal(key_, order);
        EXPECT_FALSE(s.der.empty()) << s.error;
        EXPECT_EQ(s.picture.size(), std::max(picture_bytes, base));
        if (!s.der.empty()) store_seal(store_, key_.serial, s.der);
        return s;
    }

    // GetSealInfo_WithCapacity through its size protocol: ask, then read.
    Bytes sized(int index, int mode) {
        int needed = -1;
        EXPECT_EQ(sg_.GetSealInfo_WithCapacity(device_, index, mode, nullptr, 0, &needed),
                  SEALGATE_BUFFER_TOO_SMALL);
        if (needed < 0) return {};
        Bytes out(static_cast<size_t>(needed) + 8, 0xCC);
        int length = -1;
        EXPECT_EQ(sg_.GetSealInfo_WithCapacity(device_, index, mode, out.data(), needed, &length),
                  1);
        EXPECT_EQ(length, needed);
        EXPECT_TRUE(std::all_of(out.end() - 8, out.end(), [](uint8_t b) { return b == 0xCC; }))
            << "written past the capacity";
        out.resize(static_cast<size_t>(needed));
        return out;
    }
};

void expect_record(const Bytes& r, const MadeSeal& seal) {
    ASSERT_EQ(r.size(), seal.picture.size() + 268);
    EXPECT_EQ(record_int32(r, 0), 4);
    EXPECT_EQ(record_int32(r, 4), static_cast<int32_t>(r.size()));
    EXPECT_EQ(record_text(r, 8, 64), "Holder One");
    EXPECT_EQ(record_int32(r, 72), 2);
    EXPECT_EQ(record_int32(r, 76), 0);
    // 64 pixels at 96 dpi: 1693.33 hundredths of a millimetre, cut.
    EXPECT_EQ(record_int32(r, 80), 1693);
    EXPECT_EQ(record_int32(r, 84), 1693);
    EXPECT_EQ(record_text(r, 88, 64), SealOrder().name_gbk);
    EXPECT_EQ(record_text(r, 152, 64), "Holder One");
    EXPECT_EQ(record_text(r, 216, 24), "2021/05/13 10:02:48");
    EXPECT_EQ(record_text(r, 240, 24), "2039/05/13 10:02:48");
    EXPECT_TRUE(std::equal(seal.picture.begin(), seal.picture.end(), r.begin() + 264));
    EXPECT_EQ(record_int32(r, 264 + seal.picture.size()), 0);
}

TEST_F(SealSizesTest, EverySizeReadsInEveryModeAndChecksOnlineAndOffline) {
    const size_t kSizes[] = {1024, 12 * 1024, 13 * 1024, 50 * 1024, 300 * 1024, 1024 * 1024};
    std::vector<MadeSeal> seals;
    for (size_t i = 0; i < std::size(kSizes); ++i) {
        seals.push_back(add_seal(kSizes[i], "32010000000" + std::to_string(10 + i)));
        ASSERT_FALSE(seals.back().der.empty());
        registry_.set_status(seals.back().der.empty() ? "" : "32010000000" + std::to_string(10 + i),
                             static_cast<int>(20 + i));
    }
    ASSERT_EQ(sg_.GetSealCount(device_), static_cast<int>(seals.size()));

    for (size_t i = 0; i < seals.size(); ++i) {
        const MadeSeal& seal = seals[i];
        const int index = static_cast<int>(i);
        SCOPED_TRACE("picture of " + std::to_string(kSizes[i]) + " bytes");
        const std::string code = "32010000000" + std::to_string(10 + i);
        const std::string text = kit::base64_encode(seal.der);
        const Bytes expected[] = {
            {}, Bytes(text.begin(), text.end()), Bytes(code.begin(), code.end())};

        for (int mode = 0; mode <= 2; ++mode) {
            SCOPED_TRACE("mode " + std::to_string(mode));
            Bytes got = sized(index, mode);
            if (mode == 0)
                expect_record(got, seal);
            else
                EXPECT_EQ(got, expected[mode]);

            // The 20480-byte export: the same bytes when they fit, otherwise 0 and nothing
            // written.
            Bytes buffer(SEALGATE_SEALINFO_SIZE + 64, 0xCC);
            int length = -3;
            int rc = sg_.GetSealInfo(device_, index, mode, buffer.data(), &length);
            if (got.size() <= SEALGATE_SEALINFO_SIZE) {
                ASSERT_EQ(rc, 1);
                ASSERT_EQ(length, static_cast<int>(got.size()));
                EXPECT_TRUE(std::equal(got.begin(), got.end(), buffer.begin()));
                EXPECT_TRUE(std::all_of(buffer.begin() + length, buffer.end(),
                                        [](uint8_t b) { return b == 0xCC; }));
            } else {
                EXPECT_EQ(rc, 0);
                EXPECT_EQ(length, -3);
                EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) {
                    return b == 0xCC;
                })) << "a refused result wrote into the buffer";
            }
        }

        set_env("SEALGATE_ONLINE", "1");
        EXPECT_EQ(sg_.GetSealStatus(device_, index), static_cast<int>(20 + i));
        set_env("SEALGATE_ONLINE", "0");
        EXPECT_EQ(sg_.GetSealStatus(device_, index), 1);
    }
    // Records of 1 KB and 12 KB pictures fit the 20480 bytes; 13 KB and more do not, nor does the
    // Base64 text of a seal with a 13 KB picture and up.
}

TEST_F(SealSizesTest, CapacityProtocol) {
    MadeSeal seal = add_seal(50 * 1024, "3201000000001");
    ASSERT_FALSE(seal.der.empty());
    const int needed = static_cast<int>(seal.picture.size() + 268);

    int length = -1;
    EXPECT_EQ(sg_.GetSealInfo_WithCapacity(device_, 0, 0, nullptr, 1 << 30, &length),
              SEALGATE_BUFFER_TOO_SMALL)
        << "a null buffer asks for the size whatever the capacity says";
    EXPECT_EQ(length, needed);

    struct Case {
        const char* what;
        int capacity;
        int result;
    } cases[] = {
        {"capacity 0", 0, SEALGATE_BUFFER_TOO_SMALL},
        {"negative capacity", -5, SEALGATE_BUFFER_TOO_SMALL},
        {"one byte short", needed - 1, SEALGATE_BUFFER_TOO_SMALL},
        {"exact", needed, 1},
        {"larger", needed + 1000, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes buffer(static_cast<size_t>(needed) + 1000 + 16, 0xCC);
        length = -1;
        EXPECT_EQ(sg_.GetSealInfo_WithCapacity(device_, 0, 0, buffer.data(), c.capacity, &length),
                  c.result);
        EXPECT_EQ(length, needed);
        if (c.result == 1) {
            expect_record(Bytes(buffer.begin(), buffer.begin() + needed), seal);
            EXPECT_TRUE(std::all_of(buffer.begin() + needed, buffer.end(),
                                    [](uint8_t b) { return b == 0xCC; }));
        } else {
            EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) {
                return b == 0xCC;
            })) << "a buffer too small was written";
        }
    }

    // Failures leave the buffer and the length alone and are told apart from "too small".
    Bytes buffer(64, 0xCC);
    length = -7;
    EXPECT_EQ(sg_.GetSealInfo_WithCapacity(device_, 5, 0, buffer.data(), 64, &length), 0);
    EXPECT_EQ(sg_.GetSealInfo_WithCapacity(device_, 0, 3, nullptr, 0, &length), 0);
    EXPECT_EQ(sg_.GetSealInfo_WithCapacity(nullptr, 0, 0, nullptr, 0, &length), 0);
    EXPECT_EQ(length, -7);
    EXPECT_EQ(sg_.GetSealInfo_WithCapacity(device_, 0, 0, buffer.data(), 64, nullptr), 0);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0xCC; }));
}

}  // namespace
}  // namespace sgtest
