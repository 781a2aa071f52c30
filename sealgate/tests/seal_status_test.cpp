// GetSealStatus against a real registry service on loopback and the real offline check.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "key_seal_maker.h"
#include "kit/base64.h"
#include "registry_session_test.h"
#include "status_request.h"

namespace sgtest {
namespace {

namespace fs = std::filesystem;

class SealStatusTest : public RegistrySessionTest {
  protected:
    void SetUp() override {
        RegistrySessionTest::SetUp();
        start_registry("2");
        set_env("SEALGATE_ONLINE", "1");
        unsetenv("SEALGATE_DIAGNOSTICS_DIR");
        tmp_ = dir_.path() / "tmp";
        fs::create_directories(tmp_);
        set_env("TMPDIR", tmp_.string());
        ASSERT_EQ(sg_.InitialSession(&device_), 1);
    }
    void TearDown() override {
        for (const char* v : {"SEALGATE_DIAGNOSTICS_DIR", "TMPDIR"}) unsetenv(v);
        RegistrySessionTest::TearDown();
    }
    MadeSeal add_seal(const SealOrder& order = {}) {
        MadeSeal s = make_key_seal(key_, order);
        EXPECT_FALSE(s.der.empty()) << s.error;
        if (!s.der.empty()) store_seal(store_, key_.serial, s.der);
        return s;
    }
    size_t temp_files() const {
        return static_cast<size_t>(
            std::distance(fs::directory_iterator(tmp_), fs::directory_iterator()));
    }

    fs::path tmp_;
};

TEST_F(SealStatusTest, OnlinePassesTheRegistryStatusThrough) {
    SealOrder order;
    order.esid = "3201000000042";
    add_seal(order);
    for (int status : {0, 1, 2, 4, 6, 9}) {
        registry_.set_status(order.esid, status);
        EXPECT_EQ(sg_.GetSealStatus(device_, 0), status);
    }
    EXPECT_EQ(temp_files(), 0u) << "response files left behind";

    ASSERT_EQ(registry_.request_count(), 6u);
    registry::Request r = registry_.requests().back();
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/pekorl/sealrecord/clientGetSealStatus");
    const std::string body = registry::status_request_form("3201000000042");
    EXPECT_EQ(r.body, body);
    EXPECT_EQ(r.header_lines,
              (std::vector<std::string>{
                  "Accept: */*", "Content-Type: application/x-www-form-urlencoded",
                  "Content-Length: " + std::to_string(body.size()), "Character-Encoding: binary",
                  "Host: 127.0.0.1", "Connection: Keep-Alive", "Pragma: no-cache"}));
}

TEST_F(SealStatusTest, ExpiredSealAnswersThreeWithoutAsking) {
    SealOrder order;
    order.valid_end = "20200101000000Z";
    add_seal(order);
    registry_.set_status(order.esid, 2);
    EXPECT_EQ(sg_.GetSealStatus(device_, 0), 3);
    EXPECT_EQ(registry_.request_count(), 0u);
}

TEST_F(SealStatusTest, LaterTodayIsStillValid) {
    std::time_t soon = std::time(nullptr) + 120;
    std::tm t{};
    ASSERT_TRUE(kit::local_time(soon, t));
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%SZ", &t);
    SealOrder order;
    order.valid_end = text;
    add_seal(order);
    registry_.set_status(order.esid, 2);
    EXPECT_EQ(sg_.GetSealStatus(device_, 0), 2);
}

// Each failure answers 5 after exactly one request: nothing is retried.
TEST_F(SealStatusTest, ServiceFailuresAnswerFiveAfterOneRequest) {
    add_seal();
    registry_.set_status("3201000000001", 2);
    size_t asked = 0;
    auto expect_five = [&](const char* what, int index = 0) {
        EXPECT_EQ(sg_.GetSealStatus(device_, index), 5) << what;
        EXPECT_EQ(registry_.request_count(), ++asked) << what;
    };
    registry_.set_behaviour(registry::Behaviour::ServerError);
    expect_five("500");
    registry_.set_behaviour(registry::Behaviour::Garbage);
    expect_five("not Base64");
    registry_.set_behaviour(registry::Behaviour::Oversized);
    expect_five("an answer over 1 MB");
    registry_.set_behaviour(registry::Behaviour::Normal);
    set_env("SEALGATE_REGISTRY_URL",
            "http://127.0.0.1:" + std::to_string(registry_.port()) + "/other");
    expect_five("404");
    set_env("SEALGATE_REGISTRY_URL", registry_.url());
    SealOrder unknown;
    unknown.esid = "3209999999999";
    add_seal(unknown);
    expect_five("a seal the service does not know", 1);
    EXPECT_EQ(temp_files(), 0u);
}

// A silent service: the call waits for the time limit (2 s) and answers 5, and does not hold its
// session meanwhile: another call on the same handle answers while it waits.
TEST_F(SealStatusTest, SilentServiceAnswersFiveAtTheTimeLimitWithoutHoldingTheSession) {
    add_seal();
    registry_.set_behaviour(registry::Behaviour::Silent);
    std::atomic<bool> status_done{false};
    int status = -1;
    const auto start = std::chrono::steady_clock::now();
    std::thread asking([&] {
        status = sg_.GetSealStatus(device_, 0);
        status_done = true;
    });
    while (registry_.request_count() == 0 && !status_done) std::this_thread::yield();
    std::vector<uint8_t> serial(SEALGATE_SERIAL_SIZE);
    int length = 0;
    const int serial_answer = sg_.GetSerial(device_, serial.data(), &length);
    const bool status_still_waiting = !status_done;
    asking.join();
    const auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(serial_answer, 1);
    EXPECT_TRUE(status_still_waiting) << "GetSerial waited for the status check's exchange";
    EXPECT_EQ(status, 5);
    EXPECT_GE(spent, std::chrono::milliseconds(1900)) << "ended before the time limit";
    EXPECT_EQ(registry_.request_count(), 1u);
}

TEST_F(SealStatusTest, NoServiceAtTheAddressAnswersFive) {
    add_seal();
    uint16_t port = registry_.port();
    registry_.stop();
    set_env("SEALGATE_REGISTRY_URL",
            "http://127.0.0.1:" + std::to_string(port) + "/pekorl/sealrecord/clientGetSealStatus");
    EXPECT_EQ(sg_.GetSealStatus(device_, 0), 5);
}

TEST_F(SealStatusTest, OfflineChecksTheMakersSignature) {
    set_env("SEALGATE_ONLINE", "0");
    MadeSeal seal = add_seal();
    fs::path cwd_before = fs::current_path();
    EXPECT_EQ(sg_.GetSealStatus(device_, 0), 1);
    EXPECT_EQ(registry_.request_count(), 0u);

    // The signature's last byte changed: the seal still parses, the check fails.
    std::vector<uint8_t> tampered = seal.der;
    tampered[tampered.size() - 1] ^= 0x01;
    store_seal(store_, key_.serial, tampered);
    EXPECT_EQ(sg_.GetSealStatus(device_, 1), 5);
    // A changed picture byte inside the signed information fails as well.
    std::vector<uint8_t> picture_changed = seal.der;
    auto at = std::search(picture_changed.begin(), picture_changed.end(), seal.picture.begin() + 70,
                          seal.picture.begin() + 90);
    ASSERT_NE(at, picture_changed.end());
    *at ^= 0x10;
    store_seal(store_, key_.serial, picture_changed);
    EXPECT_EQ(sg_.GetSealStatus(device_, 2), 5);
}

TEST_F(SealStatusTest, DiagnosticFilesOnlyIntoAConfiguredFolder) {
    set_env("SEALGATE_ONLINE", "0");
    add_seal();
    fs::path work = dir_.path() / "work";
    fs::create_directories(work);
    fs::path old = fs::current_path();
    fs::current_path(work);
    EXPECT_EQ(sg_.GetSealStatus(device_, 0), 1);
    fs::current_path(old);
    EXPECT_TRUE(fs::is_empty(work)) << "diagnostic files written into the current folder";

    fs::path diag = dir_.path() / "diag";
    fs::create_directories(diag);
    set_env("SEALGATE_DIAGNOSTICS_DIR", diag.string());
    EXPECT_EQ(sg_.GetSealStatus(device_, 0), 1);
    for (const char* name :
         {"验证时电子印章数据.txt", "验证时原文.txt", "验证时证书.cer", "验证时签名值.txt"})
        EXPECT_TRUE(fs::exists(diag / name)) << name;
    EXPECT_EQ(fs::file_size(diag / "验证时签名值.txt"), 64u);
}

TEST_F(SealStatusTest, SealCodesOfAnyLengthAreSentWhole) {
    // The seal code is read whole, however long: 101 and 1000 characters reach the service.
    for (size_t n : {size_t{101}, size_t{1000}}) {
        SealOrder order;
        order.esid = std::string(n, '7');
        add_seal(order);
        registry_.set_status(order.esid, static_cast<int>(n));
    }
    EXPECT_EQ(sg_.GetSealStatus(device_, 0), 101);
    EXPECT_EQ(sg_.GetSealStatus(device_, 1), 1000);
    ASSERT_EQ(registry_.request_count(), 2u);
}

TEST_F(SealStatusTest, NoSealsNoSessionAndBadIndex) {
    EXPECT_EQ(sg_.GetSealStatus(device_, 0), 5);  // a key without seals
    EXPECT_EQ(sg_.GetSealStatus(nullptr, 0), 0);
    add_seal();
    registry_.set_status("3201000000001", 2);
    EXPECT_EQ(sg_.GetSealStatus(device_, 7), 5);  // no seal 7
    EXPECT_EQ(sg_.GetSealStatus(device_, 0), 2);
}

// The service's number is read as a 32-bit long reads it on Windows: beyond 32 bits it
// saturates, it never wraps into a small status such as 1 ("verified offline").
TEST_F(SealStatusTest, StatusNumbersBeyond32BitsSaturate) {
    add_seal();
    const std::pair<const char*, int> cases[] = {{"4294967297", 2147483647},
                                                 {"2147483648", 2147483647},
                                                 {"-2147483649", -2147483647 - 1},
                                                 {"99999999999999999999999", 2147483647},
                                                 {" 42", 42},
                                                 {"7x", 7},
                                                 {"-1", -1},
                                                 {"abc", 0},
                                                 {"", 0}};
    for (const auto& c : cases) {
        registry_.set_status_text("3201000000001", c.first);
        EXPECT_EQ(sg_.GetSealStatus(device_, 0), c.second) << c.first;
    }
}

// A code holding a control character would go into the request altered ("&#01;"): it is
// refused, and nothing is sent.
TEST_F(SealStatusTest, SealCodeWithAControlCharacterIsNotSent) {
    SealOrder order;
    order.esid =
        "3201\x01"
        "0042";
    add_seal(order);
    registry_.set_status("3201&#01;0042", 2);
    registry_.set_status(order.esid, 2);
    EXPECT_EQ(sg_.GetSealStatus(device_, 0), 5);
    EXPECT_EQ(registry_.request_count(), 0u);
}

// The trace shows every step of the check in order, each seal read with GetSealInfo's entry.
TEST_F(SealStatusTest, TraceShowsEveryStepInOrder) {
    add_seal();
    registry_.set_status("3201000000001", 2);
    clear_trace();
    ASSERT_EQ(sg_.GetSealStatus(device_, 0), 2);
    const std::string entry = "GetSealInfo---------------------------1\xA3\xBA\xA3\xBA";
    const std::vector<std::string> steps = {
        "GetSealStatus---------------------------1",
        "GetSealStatus---------------------------2",
        "GetSealCount---------------------------1",
        "GetSealStatus---------------------------3",
        entry + "0",
        "GetSealInfo---------------------------1.1",
        "GetSealInfo---------------------------4",
        "GetSealStatus---------------------------4",
        "GetSealStatus---------------------------5",
        "GetSealStatus---------------------------8::",
        entry + "2",
        "GetSealInfo---------------------------1.1",
        "GetSealInfo---------------------------4::3201000000001",
        "GetSealStatus---------------------------8.1",
        "verifySealStatus---------------------------1",
        "GetSealStatus---------------------------9::2"};
    std::vector<std::string> lines = trace_lines();
    size_t at = 0;
    for (const std::string& step : steps) {
        while (at < lines.size() && lines[at].rfind(step, 0) != 0) ++at;
        ASSERT_LT(at, lines.size()) << "missing or out of order: " << step;
        ++at;
    }
}

}  // namespace
}  // namespace sgtest
