// Answers the software key cannot give, from a scripted driver: a serial or certificate longer
// than the host's buffer, certificate documents with odd "signcert" texts, a driver without
// CloseDevice. The library, the trace library and the scripted driver (as libUKeyDriver.so) are
// copied into a folder of their own, so this copy of the library binds that driver.
#include <dlfcn.h>

#include <algorithm>
#include <cstring>

#include "kit/base64.h"
#include "sealgate_test_env.h"

namespace fs = std::filesystem;

namespace {

class ScriptedDriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::copy_file(SEALGATE_PATH, dir_.path() / "libSealgate.so");
        fs::copy_file(RZLOG_PATH, dir_.path() / "libRZLog.so");
        fs::copy_file(SCRIPTED_DRIVER_PATH, dir_.path() / "libUKeyDriver.so");
        sg_ = std::make_unique<sgtest::Sealgate>((dir_.path() / "Sealgate.dll").string());
        ASSERT_TRUE(sg_->complete());
        sgtest::set_env("SCRIPTED_CALLS", (dir_.path() / "calls.txt").string());
        sgtest::set_env("RZLOG_FILE", (dir_.path() / "trace.txt").string());
        ASSERT_EQ(sg_->InitialSession(&device_), 1);
    }
    void TearDown() override {
        if (sg_) sg_->unbind();
        unsetenv("SCRIPTED_SERIAL");
        unsetenv("SCRIPTED_CERT");
        unsetenv("SCRIPTED_CALLS");
        unsetenv("RZLOG_FILE");
    }
    bool driver_loaded() const {
        std::string path = (dir_.path() / "libUKeyDriver.so").string();
        void* h = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
        if (h) dlclose(h);
        return h != nullptr;
    }
    // Calls GetSignCert on a buffer of 0xEE bytes; gives the result and what was written.
    int sign_cert(const std::string& document, std::vector<unsigned char>& out, int& len) {
        sgtest::set_env("SCRIPTED_CERT", document);
        out.assign(10240 + 16, 0xEE);
        len = -3;
        return sg_->GetSignCert(device_, out.data(), &len);
    }
    std::string last_trace() const {
        auto lines = sgtest::lines_of(sgtest::read_text(dir_.path() / "trace.txt"));
        return lines.empty() ? std::string() : lines.back();
    }
    static bool untouched(const std::vector<unsigned char>& b) {
        return std::all_of(b.begin(), b.end(), [](unsigned char c) { return c == 0xEE; });
    }

    sgtest::TempDir dir_;
    std::unique_ptr<sgtest::Sealgate> sg_;
    void* device_ = nullptr;
};

TEST_F(ScriptedDriverTest, SerialLongerThanTheBufferFailsAndWritesNothing) {
    unsigned char buf[128];
    std::memset(buf, 0xEE, sizeof buf);
    int len = -3;
    sgtest::set_env("SCRIPTED_SERIAL", std::string(101, 'S'));
    EXPECT_EQ(sg_->GetSerial(device_, buf, &len), 0);
    EXPECT_EQ(len, -3);
    EXPECT_EQ(last_trace(), "GetSerial---------------------------3::" + std::string(101, 'S'));
    EXPECT_TRUE(std::all_of(buf, buf + sizeof buf, [](unsigned char c) { return c == 0xEE; }));

    sgtest::set_env("SCRIPTED_SERIAL", std::string(100, 'S'));
    EXPECT_EQ(sg_->GetSerial(device_, buf, &len), 1);
    EXPECT_EQ(len, 100);
    EXPECT_EQ(buf[99], 'S');
    EXPECT_EQ(buf[100], 0xEE);  // no terminator
}

TEST_F(ScriptedDriverTest, CertificateLongerThanTheBufferFailsAndWritesNothing) {
    std::vector<unsigned char> out;
    int len = 0;
    std::vector<uint8_t> big(10241, 0x42);
    EXPECT_EQ(sign_cert("<c><signcert>" + kit::base64_encode(big) + "</signcert></c>", out, len),
              0);
    EXPECT_EQ(len, -3);
    EXPECT_TRUE(untouched(out));

    big.resize(10240);
    EXPECT_EQ(sign_cert("<c><signcert>" + kit::base64_encode(big) + "</signcert></c>", out, len),
              1);
    EXPECT_EQ(len, 10240);
    EXPECT_EQ(out[10239], 0x42);
    EXPECT_EQ(out[10240], 0xEE);
}

TEST_F(ScriptedDriverTest, CertificateDocumentCases) {
    std::vector<unsigned char> out;
    int len = 0;
    auto bytes = [&](size_t n) { return std::string(out.begin(), out.begin() + long(n)); };

    // Base64 in the document: whole groups, padding, and a line break that ends the data.
    ASSERT_EQ(sign_cert("<uk><signcert>QUJD</signcert></uk>", out, len), 1);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(bytes(3), "ABC");
    ASSERT_EQ(sign_cert("<uk><signcert>QUI=</signcert></uk>", out, len), 1);
    EXPECT_EQ(len, 2);
    EXPECT_EQ(bytes(2), "AB");
    ASSERT_EQ(sign_cert("<uk><signcert>QUJD\r\nREVG</signcert></uk>", out, len), 1);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(bytes(3), "ABC");

    // An empty "signcert" is a certificate of no bytes.
    ASSERT_EQ(sign_cert("<uk><signcert></signcert></uk>", out, len), 1);
    EXPECT_EQ(len, 0);
    EXPECT_TRUE(untouched(out));

    // No "signcert" under the root, or not XML at all: failure, nothing written.
    for (const char* doc : {"<uk><cert>QUJD</cert></uk>", "<signcert>QUJD</signcert>",
                            "<uk><signcert>QUJD</uk>", ""}) {
        EXPECT_EQ(sign_cert(doc, out, len), 0) << doc;
        EXPECT_EQ(len, -3) << doc;
        EXPECT_TRUE(untouched(out)) << doc;
        // The trace ends at the step reached: the answer came, reading it failed.
        EXPECT_EQ(last_trace(), "GetSignCert---------------------------3") << doc;
    }
}

TEST_F(ScriptedDriverTest, MissingFunctionsFailWithoutCallingTheDriver) {
    unsigned char sig[1024] = {};
    int len = 1024;
    EXPECT_EQ(sg_->RawSignData(device_, sig, 4, sig, &len), 0);  // no SignMessage exported
    EXPECT_EQ(len, 1024);
    EXPECT_EQ(sg_->GetSealCount(device_), 0);  // no EnumSeal exported
    // The driver saw the session's OpenDevice and nothing of the two calls.
    auto calls = sgtest::lines_of(sgtest::read_text(dir_.path() / "calls.txt"));
    EXPECT_EQ(calls, std::vector<std::string>{"OpenDevice"});
}

TEST_F(ScriptedDriverTest, CloseSessionWithoutCloseDeviceStillUnbinds) {
    ASSERT_TRUE(driver_loaded());
    sg_->CloseSession(device_);
    EXPECT_FALSE(driver_loaded());
    auto trace = sgtest::lines_of(sgtest::read_text(dir_.path() / "trace.txt"));
    std::vector<std::string> tail(trace.end() - 4, trace.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"CloseSession---------------------------1",
                                              "CloseSession---------------------------2",
                                              "CloseSession---------------------------3",
                                              "CloseSession---------------------------4"}));
    sgtest::set_env("SCRIPTED_SERIAL", "S1");
    unsigned char buf[100];
    int len = 0;
    EXPECT_EQ(sg_->GetSerial(device_, buf, &len), 0);
    EXPECT_EQ(sg_->VerifyUserPin(device_, "1"), 0);
    // The driver saw only the calls made while bound.
    auto calls = sgtest::lines_of(sgtest::read_text(dir_.path() / "calls.txt"));
    EXPECT_EQ(calls, std::vector<std::string>{"OpenDevice"});
}

TEST_F(ScriptedDriverTest, MissingDriverFailsWithTheSystemError) {
    sg_->CloseSession(device_);
    // Like Windows, the platform hands out a module of the same name that the process has
    // loaded already; the test needs a process where no other driver is loaded (its own CTest
    // entry runs it alone).
    if (void* other = dlopen("libUKeyDriver.so", RTLD_LAZY | RTLD_NOLOAD)) {
        dlclose(other);
        GTEST_SKIP() << "another key driver is loaded in this process";
    }
    fs::remove(dir_.path() / "libUKeyDriver.so");
    void* device = nullptr;
    EXPECT_EQ(sg_->InitialSession(&device), 0);
    EXPECT_EQ(device, nullptr);
    auto trace = sgtest::lines_of(sgtest::read_text(dir_.path() / "trace.txt"));
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back().rfind("InitialSession---------------------------1::", 0), 0u)
        << trace.back();
}

}  // namespace
