// A host program's walk through a session on the software key, the driver binding's life and the
// trace a host reads afterwards.
#include <algorithm>
#include <cstring>

#include "kit/base64.h"
#include "sealgate_test_env.h"
#include "testpki.h"

using sgtest::SessionTest;
using softkey::Bytes;

namespace {

bool has_line(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

size_t index_of(const std::vector<std::string>& lines, const std::string& prefix) {
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].rfind(prefix, 0) == 0) return i;
    return lines.size();
}

TEST_F(SessionTest, SizeQueriesAnswerWithoutASession) {
    struct Query {
        int (*call)(const sgtest::Sealgate&, int*);
        int size;
    };
    const Query queries[] = {
        {[](const sgtest::Sealgate& s, int* n) { return s.GetSealInfo(nullptr, 0, 0, nullptr, n); },
         20480},
        {[](const sgtest::Sealgate& s, int* n) { return s.GetSerial(nullptr, nullptr, n); }, 100},
        {[](const sgtest::Sealgate& s, int* n) { return s.GetSignCert(nullptr, nullptr, n); },
         10240},
        {[](const sgtest::Sealgate& s, int* n) {
             return s.RawSignData(nullptr, nullptr, 0, nullptr, n);
         },
         1024},
    };
    for (const auto& q : queries) {
        int n = -7;
        EXPECT_EQ(q.call(sg_, &n), 1);
        EXPECT_EQ(n, q.size);
    }
    // No driver was bound for them.
    EXPECT_FALSE(driver_loaded());
    // Without a place for the size there is no answer (and no crash).
    EXPECT_EQ(sg_.GetSerial(nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(sg_.RawSignData(nullptr, nullptr, 0, nullptr, nullptr), 0);
}

TEST_F(SessionTest, HostWalksASession) {
    void* device = nullptr;
    ASSERT_EQ(sg_.InitialSession(&device), 1);
    ASSERT_NE(device, nullptr);

    unsigned char serial[100];
    int serial_len = 0;
    ASSERT_EQ(sg_.GetSerial(device, serial, &serial_len), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(serial), size_t(serial_len)), "SG-TEST-0001");

    std::vector<unsigned char> cert(10240);
    int cert_len = 0;
    ASSERT_EQ(sg_.GetSignCert(device, cert.data(), &cert_len), 1);
    cert.resize(size_t(cert_len));
    EXPECT_EQ(cert, key_.sign_cert);

    // A wrong PIN, then the right one (which restores the tries), then sign.
    EXPECT_EQ(sg_.VerifyUserPin(device, "123123"), 0);
    EXPECT_EQ(softkey::Store(store_).load(key_.serial).pin.retries_left, 2);
    ASSERT_EQ(sg_.VerifyUserPin(device, "580914"), 1);
    EXPECT_EQ(softkey::Store(store_).load(key_.serial).pin.retries_left, 3);

    const Bytes data = {'s', 'e', 'a', 'l', ' ', 'm', 'e'};
    unsigned char sig[1024];
    int sig_len = 1024;
    ASSERT_EQ(sg_.RawSignData(device, data.data(), int(data.size()), sig, &sig_len), 1);
    ASSERT_EQ(sig_len, 64);
    testpki::Cert x509 = testpki::cert_from_der(key_.sign_cert);
    testpki::Pkey pub(X509_get_pubkey(x509.get()));
    EXPECT_TRUE(testpki::sm2_verify_raw(pub.get(), data, Bytes(sig, sig + 64)));

    // Wrong until blocked: then even the right PIN is refused, and signing too.
    EXPECT_EQ(sg_.VerifyUserPin(device, "000000"), 0);
    EXPECT_EQ(sg_.VerifyUserPin(device, "000000"), 0);
    EXPECT_EQ(sg_.VerifyUserPin(device, "000000"), 0);
    EXPECT_TRUE(softkey::Store(store_).load(key_.serial).pin.blocked());
    EXPECT_EQ(sg_.VerifyUserPin(device, "580914"), 0);
    sig_len = 1024;
    EXPECT_EQ(sg_.RawSignData(device, data.data(), int(data.size()), sig, &sig_len), 0);

    sg_.CloseSession(device);
    EXPECT_FALSE(driver_loaded());

    // The trace: every step of every export, the handle, the serial, the certificate's length
    // and the signature in Base64; never the PIN.
    auto lines = trace_lines();
    char handle_text[64];
    std::snprintf(handle_text, sizeof handle_text, "%p", device);
    for (const std::string& expected : std::vector<std::string>{
             "InitialSession---------------------------1",
             "InitialSession---------------------------2",
             "InitialSession---------------------------3::" + std::string(handle_text),
             "GetSerial---------------------------1",
             "GetSerial---------------------------2",
             "GetSerial---------------------------3::SG-TEST-0001",
             "GetSignCert---------------------------1",
             "GetSignCert---------------------------2",
             "GetSignCert---------------------------3",
             "GetSignCert---------------------------4::" + std::to_string(key_.sign_cert.size()),
             "VerifyUserPin---------------------------1",
             "VerifyUserPin---------------------------2",
             "VerifyUserPin---------------------------3",
             "RawSignData---------------------------1",
             "RawSignData---------------------------2::0",
             "RawSignData---------------------------3::" + kit::base64_encode(sig, 64),
             "CloseSession---------------------------1",
             "CloseSession---------------------------2",
             "CloseSession---------------------------2.1",
             "CloseSession---------------------------3",
             "CloseSession---------------------------4"})
        EXPECT_TRUE(has_line(lines, expected)) << expected;
    EXPECT_LT(index_of(lines, "InitialSession---------------------------3"),
              index_of(lines, "GetSerial---------------------------1"));
    // The refused signature stops after the driver's status.
    EXPECT_NE(index_of(lines, "RawSignData---------------------------2::-2147"), lines.size());
    std::string all = sgtest::read_text(trace_);
    EXPECT_EQ(all.find("580914"), std::string::npos);
    EXPECT_EQ(all.find("123123"), std::string::npos);
}

TEST_F(SessionTest, NoKeyMeansNoSession) {
    softkey::Store(store_).update(key_.serial, [](softkey::KeyRecord& k) { k.present = false; });
    void* device = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(sg_.InitialSession(&device), 0);
    EXPECT_EQ(device, reinterpret_cast<void*>(0x1234));  // untouched
    auto lines = trace_lines();
    EXPECT_TRUE(has_line(lines, "InitialSession---------------------------2"));
    EXPECT_EQ(lines.back(), "InitialSession---------------------------4");
    EXPECT_EQ(sg_.InitialSession(nullptr), 0);
}

TEST_F(SessionTest, HandleZeroNeverReachesTheDriver) {
    void* device = nullptr;
    ASSERT_EQ(sg_.InitialSession(&device), 1);
    EXPECT_EQ(sg_.VerifyUserPin(nullptr, "000000"), 0);
    EXPECT_EQ(softkey::Store(store_).load(key_.serial).pin.retries_left, 3);  // no try spent
    unsigned char buf[100];
    std::memset(buf, 0xEE, sizeof buf);
    int len = -5;
    EXPECT_EQ(sg_.GetSerial(nullptr, buf, &len), 0);
    EXPECT_EQ(sg_.GetSignCert(nullptr, buf, &len), 0);
    EXPECT_EQ(sg_.RawSignData(nullptr, buf, 3, buf, &len), 0);
    EXPECT_EQ(len, -5);
    EXPECT_TRUE(std::all_of(buf, buf + sizeof buf, [](unsigned char c) { return c == 0xEE; }));
    sg_.CloseSession(device);
}

TEST_F(SessionTest, CloseSessionWithHandleZeroChangesNothing) {
    void* device = nullptr;
    ASSERT_EQ(sg_.InitialSession(&device), 1);
    clear_trace();
    sg_.CloseSession(nullptr);
    EXPECT_EQ(trace_lines(), std::vector<std::string>{"CloseSession---------------------------1"});
    EXPECT_TRUE(driver_loaded());
    unsigned char buf[100];
    int len = 0;
    EXPECT_EQ(sg_.GetSerial(device, buf, &len), 1);  // still bound
    sg_.CloseSession(device);
    EXPECT_FALSE(driver_loaded());
    EXPECT_EQ(sg_.GetSerial(device, buf, &len), 0);  // the binding is gone
}

// Two sessions share one binding: the first CloseSession ends it for both; the driver stays
// mapped (it was loaded twice) but every export fails until the next InitialSession.
TEST_F(SessionTest, FirstCloseEndsTheBindingOfASecondSession) {
    void* first = nullptr;
    void* second = nullptr;
    ASSERT_EQ(sg_.InitialSession(&first), 1);
    ASSERT_EQ(sg_.InitialSession(&second), 1);
    ASSERT_NE(first, second);
    sg_.CloseSession(first);
    EXPECT_TRUE(driver_loaded());
    unsigned char buf[100];
    int len = 0;
    EXPECT_EQ(sg_.GetSerial(second, buf, &len), 0);
    EXPECT_EQ(sg_.VerifyUserPin(second, "580914"), 0);

    void* third = nullptr;
    ASSERT_EQ(sg_.InitialSession(&third), 1);
    EXPECT_EQ(sg_.GetSerial(second, buf, &len), 1);  // the driver kept the second device open
    sg_.CloseSession(third);
}

// A failed InitialSession after the driver loaded leaves the binding in place: an earlier
// session's handle keeps working.
TEST_F(SessionTest, FailedSessionLeavesTheDriverBound) {
    void* device = nullptr;
    ASSERT_EQ(sg_.InitialSession(&device), 1);
    softkey::Store(store_).update(key_.serial, [](softkey::KeyRecord& k) { k.present = false; });
    void* failed = nullptr;
    EXPECT_EQ(sg_.InitialSession(&failed), 0);
    EXPECT_EQ(failed, nullptr);
    softkey::Store(store_).update(key_.serial, [](softkey::KeyRecord& k) { k.present = true; });
    unsigned char buf[100];
    int len = 0;
    EXPECT_EQ(sg_.GetSerial(device, buf, &len), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), size_t(len)), key_.serial);
    sg_.CloseSession(device);
}

}  // namespace
