// Seal reading through Sealgate as a host does it: seals made with the key's own maker
// certificate, stored on the software key and read back in all three modes.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "key_seal_maker.h"
#include "kit/base64.h"
#include "sealgate_test_env.h"

namespace sgtest {
namespace {

class SealReadTest : public SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        ASSERT_EQ(sg_.InitialSession(&device_), 1);
    }
    void TearDown() override {
        if (device_) sg_.CloseSession(device_);
        SessionTest::TearDown();
    }
    MadeSeal add_seal(const SealOrder& order = {}) {
        MadeSeal s = make_key_seal(key_, order);
        EXPECT_FALSE(s.der.empty()) << s.error;
        if (!s.der.empty()) store_seal(store_, key_.serial, s.der);
        return s;
    }
    std::vector<uint8_t> info(int index, int mode, int* rc = nullptr) {
        std::vector<uint8_t> out(SEALGATE_SEALINFO_SIZE, 0xCC);
        int length = -3;
        int r = sg_.GetSealInfo(device_, index, mode, out.data(), &length);
        if (rc) *rc = r;
        if (r != 1) {
            EXPECT_EQ(length, -3) << "a failure changed the length";
            return {};
        }
        out.resize(static_cast<size_t>(length));
        return out;
    }
    void* device_ = nullptr;
};

TEST_F(SealReadTest, RecordCarriesEveryFieldOfTheSeal) {
    SealOrder order;
    order.valid_start = "20210702035045Z";
    order.valid_end = "20390702035045Z";
    MadeSeal seal = add_seal(order);
    ASSERT_FALSE(seal.der.empty());
    ASSERT_EQ(sg_.GetSealCount(device_), 1);

    std::vector<uint8_t> r = info(0, 0);
    ASSERT_EQ(r.size(), seal.picture.size() + 268);
    EXPECT_EQ(record_int32(r, 0), 4);
    EXPECT_EQ(record_int32(r, 4), static_cast<int32_t>(r.size()));
    EXPECT_EQ(record_text(r, 8, 64), "Holder One");
    EXPECT_EQ(record_int32(r, 72), 2);
    EXPECT_EQ(record_int32(r, 76), 0);
    // 200 x 100 pixels at 96 dpi: 5291.67 and 2645.83 hundredths of a millimetre, cut.
    EXPECT_EQ(record_int32(r, 80), 5291);
    EXPECT_EQ(record_int32(r, 84), 2645);
    EXPECT_EQ(record_text(r, 88, 64), order.name_gbk);
    EXPECT_EQ(record_text(r, 152, 64), "Holder One");
    EXPECT_EQ(record_text(r, 216, 24), "2021/07/02 03:50:45");
    EXPECT_EQ(record_text(r, 240, 24), "2039/07/02 03:50:45");
    EXPECT_TRUE(std::equal(seal.picture.begin(), seal.picture.end(), r.begin() + 264));
    EXPECT_EQ(record_int32(r, 264 + seal.picture.size()), 0);

    std::vector<uint8_t> text = info(0, 1);
    EXPECT_EQ(std::string(text.begin(), text.end()), kit::base64_encode(seal.der));
    std::vector<uint8_t> code = info(0, 2);
    EXPECT_EQ(std::string(code.begin(), code.end()), order.esid);
}

TEST_F(SealReadTest, CountsSealsAndReadsEachByIndex) {
    EXPECT_EQ(sg_.GetSealCount(device_), 0);  // no seals: the same 0 as a failure
    SealOrder a, b;
    b.esid = "3201000000002";
    b.holder_cn = "Holder Two";
    add_seal(a);
    add_seal(b);
    EXPECT_EQ(sg_.GetSealCount(device_), 2);
    std::vector<uint8_t> second = info(1, 2);
    EXPECT_EQ(std::string(second.begin(), second.end()), "3201000000002");
    EXPECT_EQ(record_text(info(1, 0), 8, 64), "Holder Two");
    int rc = -1;
    EXPECT_TRUE(info(2, 0, &rc).empty());
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(sg_.GetSealCount(nullptr), 0);
}

TEST_F(SealReadTest, OtherModesFailAfterTheSealWasRead) {
    add_seal();
    clear_trace();
    int rc = -1;
    EXPECT_TRUE(info(0, 3, &rc).empty());
    EXPECT_EQ(rc, 0);
    std::vector<std::string> lines = trace_lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "GetSealInfo---------------------------1.2::0"),
              lines.end());
}

TEST_F(SealReadTest, LongCommonNameIsCutAt63Bytes) {
    SealOrder order;
    order.holder_cn = std::string(64, 'N');  // the longest common name a certificate takes
    add_seal(order);
    std::vector<uint8_t> r = info(0, 0);
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(record_text(r, 8, 64), std::string(63, 'N'));
    EXPECT_EQ(record_text(r, 152, 64), std::string(63, 'N'));
}

TEST_F(SealReadTest, ResultLongerThanTheSizeQueryPromisedFailsWithoutWriting) {
    // A record and a stored text longer than the 20480 bytes the size query promises: Sealform
    // describes the seal (a buffer of the size it needs), the export refuses to deliver.
    SealOrder order;
    order.picture_padding = 20000;
    add_seal(order);
    int rc = -1;
    EXPECT_TRUE(info(0, 0, &rc).empty());
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(info(0, 1, &rc).empty());
    EXPECT_EQ(rc, 0);
    std::vector<std::string> lines = trace_lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "GetSealInfo---------------------------2::0"),
              lines.end());
    EXPECT_EQ(std::find(lines.begin(), lines.end(), "GetSealInfo---------------------------4"),
              lines.end());
}

TEST_F(SealReadTest, SealformIsLoadedOnlyDuringTheCall) {
    add_seal();
    ASSERT_FALSE(info(0, 0).empty());
    std::string path = kit::this_module_directory() + "/libSealform.so";
    void* h = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (h) dlclose(h);
    EXPECT_EQ(h, nullptr) << "Sealform stayed loaded after GetSealInfo";
}

// A picture whose header claims 16 million pixels, read at one dot per inch: more hundredths
// of a millimetre than the record's 32-bit fields hold. They saturate instead of wrapping.
TEST_F(SealReadTest, HugePictureAtATinyDpiSaturatesTheRecordSize) {
    SealOrder order;
    order.picture_width = 16000000;
    order.picture_height = 1;
    order.picture_cut = 62;  // file and info headers and the palette: no pixels needed
    set_env("KIT_SCREEN_DPI", "1");
    MadeSeal seal = add_seal(order);
    std::vector<uint8_t> r = info(0, 0);
    unsetenv("KIT_SCREEN_DPI");
    ASSERT_EQ(r.size(), seal.picture.size() + 268);
    EXPECT_EQ(record_int32(r, 80), INT32_MAX);  // 16e6 px at 1 dpi: 4.06e10 hundredths of a mm
    EXPECT_EQ(record_int32(r, 84), 2540);       // one pixel: 25.4 mm
}

// The seal code comes back byte for byte or not at all: a code holding a control character
// cannot be described unaltered, so mode 2 refuses it.
TEST_F(SealReadTest, SealCodeWithControlCharactersIsRefused) {
    SealOrder order;
    order.esid =
        "3201&<00>\x01"
        "42";
    add_seal(order);
    order.esid = "3201&<00>42";
    add_seal(order);
    int rc = -1;
    EXPECT_TRUE(info(0, 2, &rc).empty());
    EXPECT_EQ(rc, 0);
    std::vector<uint8_t> code = info(1, 2);
    EXPECT_EQ(std::string(code.begin(), code.end()), "3201&<00>42");
}

}  // namespace
}  // namespace sgtest
