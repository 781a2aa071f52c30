// Seal lists and stored seal texts that only a driver of our own making answers: odd lists,
// texts longer than the host's buffer, bytes that are not a seal.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "kit/base64.h"
#include "sealgate_test_env.h"

namespace sgtest {
namespace {

namespace fs = std::filesystem;

std::string b64(const std::string& text) {
    return kit::base64_encode(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

class SealListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::copy_file(SEALGATE_PATH, dir_.path() / "libSealgate.so");
        fs::copy_file(SEALFORM_PATH, dir_.path() / "libSealform.so");
        fs::copy_file(RZLOG_PATH, dir_.path() / "libRZLog.so");
        fs::copy_file(SEAL_LIST_DRIVER_PATH, dir_.path() / "libUKeyDriver.so");
        sg_ = std::make_unique<Sealgate>((dir_.path() / "Sealgate.dll").string());
        ASSERT_TRUE(sg_->complete());
        set_env("RZLOG_FILE", (dir_.path() / "trace.txt").string());
        ASSERT_EQ(sg_->InitialSession(&device_), 1);
    }
    void TearDown() override {
        if (sg_) sg_->unbind();
        unsetenv("SEALLIST_TEXT");
        unsetenv("SEAL_TEXT");
        unsetenv("RZLOG_FILE");
    }
    int count(const char* list) {
        if (list)
            set_env("SEALLIST_TEXT", list);
        else
            unsetenv("SEALLIST_TEXT");
        return sg_->GetSealCount(device_);
    }

    TempDir dir_;
    std::unique_ptr<Sealgate> sg_;
    void* device_ = nullptr;
};

TEST_F(SealListTest, CountsSealElementsOfASealList) {
    EXPECT_EQ(count(b64("<seallist><seal index=\"0\"/><seal index=\"1\"/></seallist>").c_str()), 2);
    EXPECT_EQ(count(b64("<seallist><seal/><other/><seal><x/></seal></seallist>").c_str()), 2);
    EXPECT_EQ(count(b64("<seallist></seallist>").c_str()), 0);
    EXPECT_EQ(count(b64("<other><seal/></other>").c_str()), 0);
    EXPECT_EQ(count(b64("<seallist><seal/>").c_str()), 0);
    EXPECT_EQ(count("!!!"), 0);
    EXPECT_EQ(count(nullptr), 0);
}

TEST_F(SealListTest, StoredTextLongerThanTheSizeQueryIsRefused) {
    std::vector<unsigned char> buffer(SEALGATE_SEALINFO_SIZE + 64, 0xEE);
    int length = -3;
    set_env("SEAL_TEXT", std::string(SEALGATE_SEALINFO_SIZE, 'A'));
    EXPECT_EQ(sg_->GetSealInfo(device_, 0, 1, buffer.data(), &length), 1);
    EXPECT_EQ(length, SEALGATE_SEALINFO_SIZE);
    std::fill(buffer.begin(), buffer.end(), 0xEE);
    length = -3;
    set_env("SEAL_TEXT", std::string(SEALGATE_SEALINFO_SIZE + 1, 'A'));
    EXPECT_EQ(sg_->GetSealInfo(device_, 0, 1, buffer.data(), &length), 0);
    EXPECT_EQ(length, -3);
    EXPECT_TRUE(
        std::all_of(buffer.begin(), buffer.end(), [](unsigned char c) { return c == 0xEE; }));
}

TEST_F(SealListTest, BytesThatAreNotASealFailModesZeroAndTwo) {
    std::vector<unsigned char> buffer(SEALGATE_SEALINFO_SIZE, 0xEE);
    set_env("SEAL_TEXT", b64("not a seal at all"));
    for (int mode : {0, 2}) {
        int length = -3;
        EXPECT_EQ(sg_->GetSealInfo(device_, 0, mode, buffer.data(), &length), 0);
        EXPECT_EQ(length, -3);
    }
    std::vector<std::string> lines = lines_of(read_text(dir_.path() / "trace.txt"));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "GetSealInfo---------------------------2::3"),
              lines.end());
    unsetenv("SEAL_TEXT");
    int length = -3;
    EXPECT_EQ(sg_->GetSealInfo(device_, 0, 1, buffer.data(), &length), 0);
}

}  // namespace
}  // namespace sgtest
