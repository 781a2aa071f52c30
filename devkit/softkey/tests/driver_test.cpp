// The key driver against a real store in a temporary folder, loaded by file name as its callers
// load it; signatures checked with OpenSSL.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <pugixml.hpp>
#include <random>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "kit/base64.h"
#include "kit/platform.h"
#include "softkey_factory.h"
#include "testpki.h"
#include "ukeydriver.h"

namespace fs = std::filesystem;
using softkey::Bytes;

namespace {

struct Driver {
    kit::Module module = kit::Module::load("UKeyDriver.dll");
#define UKD_FN(name) name##_fn name = module.function<name##_fn>(#name)
    UKD_FN(OpenDevice);
    UKD_FN(CloseDevice);
    UKD_FN(EnumSeal);
    UKD_FN(ReadSeal);
    UKD_FN(VerifyPin);
    UKD_FN(GetUkSerial);
    UKD_FN(GetUkCert);
    UKD_FN(SignMessage);
    UKD_FN(ECCSignExt);
#undef UKD_FN
};

class DriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device rd;
        root_ = fs::temp_directory_path() / ("softkey-driver-test-" + std::to_string(rd()));
        fs::create_directories(root_);
        setenv(softkey::kStoreEnv, root_.c_str(), 1);
        unsetenv("SOFTKEY_SERIAL");
        ASSERT_TRUE(d_.module) << "libUKeyDriver.so not found";
        ASSERT_TRUE(d_.OpenDevice && d_.CloseDevice && d_.EnumSeal && d_.ReadSeal && d_.VerifyPin &&
                    d_.GetUkSerial && d_.GetUkCert && d_.SignMessage && d_.ECCSignExt);
    }
    void TearDown() override {
        unsetenv(softkey::kStoreEnv);
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    softkey::KeyRecord add_key(const std::string& serial, int seals = 2, bool present = true) {
        softkey::FactoryOptions o = softkey::sm2_key(serial, 1);
        o.max_retries = 3;
        softkey::KeyRecord r = softkey::make_key(o);
        for (int i = 0; i < seals; ++i)
            r.seals.push_back(Bytes{0x30, 0x03, 0x02, 0x01, uint8_t(i)});
        r.present = present;
        softkey::Store(root_).create(r);
        return r;
    }

    fs::path root_;
    Driver d_;
};

TEST_F(DriverTest, OpensFirstPresentKeyOrTheChosenOne) {
    EXPECT_EQ(d_.OpenDevice(), nullptr);  // empty store
    add_key("A-PULLED", 0, false);
    EXPECT_EQ(d_.OpenDevice(), nullptr);  // only a pulled key
    add_key("B-KEY");
    add_key("C-KEY");
    void* h = d_.OpenDevice();
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(d_.GetUkSerial(h), "B-KEY");
    d_.CloseDevice(h);

    setenv("SOFTKEY_SERIAL", "C-KEY", 1);
    h = d_.OpenDevice();
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(d_.GetUkSerial(h), "C-KEY");
    d_.CloseDevice(h);
    setenv("SOFTKEY_SERIAL", "A-PULLED", 1);
    EXPECT_EQ(d_.OpenDevice(), nullptr);
    setenv("SOFTKEY_SERIAL", "NOSUCH", 1);
    EXPECT_EQ(d_.OpenDevice(), nullptr);
}

TEST_F(DriverTest, SealsAreListedAndReadAsBase64) {
    auto key = add_key("SEALS", 3);
    void* h = d_.OpenDevice();
    ASSERT_NE(h, nullptr);
    const char* list = d_.EnumSeal(h);
    ASSERT_NE(list, nullptr);
    Bytes xml = kit::base64_decode(list);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_buffer(xml.data(), xml.size()));
    size_t seals = 0;
    for (auto s = doc.child("seallist").child("seal"); s; s = s.next_sibling("seal")) ++seals;
    EXPECT_EQ(seals, 3u);
    for (int i = 0; i < 3; ++i) {
        const char* text = d_.ReadSeal(h, i);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(kit::base64_decode(text), key.seals[size_t(i)]);
    }
    EXPECT_EQ(d_.ReadSeal(h, 3), nullptr);
    EXPECT_EQ(d_.ReadSeal(h, -1), nullptr);
    d_.CloseDevice(h);
}

// A seal asked for again gives its text again; a seal changed in the store, or another seal,
// gives the new text, also when the store is changed between two reads of the same index.
TEST_F(DriverTest, SealReadAgainFollowsTheStore) {
    auto key = add_key("RESEAL", 2);
    void* h = d_.OpenDevice();
    ASSERT_NE(h, nullptr);
    const std::string first = d_.ReadSeal(h, 0);
    EXPECT_EQ(kit::base64_decode(first), key.seals[0]);
    EXPECT_EQ(d_.ReadSeal(h, 0), first);
    EXPECT_EQ(kit::base64_decode(d_.ReadSeal(h, 1)), key.seals[1]);
    EXPECT_EQ(d_.ReadSeal(h, 0), first);
    const Bytes changed{0x30, 0x03, 0x02, 0x01, 0x7F};
    softkey::Store(root_).update("RESEAL", [&](softkey::KeyRecord& k) { k.seals[0] = changed; });
    const char* after = d_.ReadSeal(h, 0);
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(kit::base64_decode(after), changed);
    softkey::Store(root_).update("RESEAL", [&](softkey::KeyRecord& k) { k.seals.resize(1); });
    EXPECT_EQ(d_.ReadSeal(h, 1), nullptr);
    EXPECT_EQ(kit::base64_decode(d_.ReadSeal(h, 0)), changed);
    d_.CloseDevice(h);
}

TEST_F(DriverTest, SerialAndSigningCertificate) {
    auto key = add_key("CERTKEY", 0);
    void* h = d_.OpenDevice();
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(d_.GetUkSerial(h), "CERTKEY");
    const char* xml = d_.GetUkCert(h, 0);
    ASSERT_NE(xml, nullptr);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(xml));
    EXPECT_EQ(kit::base64_decode(doc.document_element().child_value("signcert")), key.sign_cert);
    d_.CloseDevice(h);
}

TEST_F(DriverTest, PinCountsDownAndBlocks) {
    add_key("PINKEY", 0);
    void* h = d_.OpenDevice();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(d_.VerifyPin(h, "111111"), int(0x800063C2u));
    EXPECT_EQ(d_.VerifyPin(h, "580914"), 0);  // restores the tries
    EXPECT_EQ(d_.VerifyPin(h, "111111"), int(0x800063C2u));
    EXPECT_EQ(d_.VerifyPin(h, "111111"), int(0x800063C1u));
    EXPECT_EQ(d_.VerifyPin(h, "111111"), int(0x800063C0u));
    EXPECT_EQ(d_.VerifyPin(h, "580914"), int(0x80006983u));
    EXPECT_NE(d_.VerifyPin(h, nullptr), 0);
    // The block is the key's, seen by every later user.
    EXPECT_TRUE(softkey::Store(root_).load("PINKEY").pin.blocked());
    d_.CloseDevice(h);
}

TEST_F(DriverTest, SignMessageNeedsThePinAndVerifies) {
    auto key = add_key("SIGNKEY", 0);
    void* h = d_.OpenDevice();
    ASSERT_NE(h, nullptr);
    const Bytes data = {'h', 'e', 'l', 'l', 'o'};
    unsigned char sig[1024];
    int len = 1024;
    EXPECT_NE(d_.SignMessage(h, 0, data.data(), int(data.size()), sig, &len), 0);  // no PIN yet
    ASSERT_EQ(d_.VerifyPin(h, "580914"), 0);
    len = 32;  // too small a buffer is refused, not overrun
    EXPECT_EQ(d_.SignMessage(h, 0, data.data(), int(data.size()), sig, &len), 0x10000003);
    len = 0;
    ASSERT_EQ(d_.SignMessage(h, 0, data.data(), int(data.size()), sig, &len), 0);
    ASSERT_EQ(len, 64);
    testpki::Cert cert = testpki::cert_from_der(key.sign_cert);
    testpki::Pkey pub(X509_get_pubkey(cert.get()));
    EXPECT_TRUE(testpki::sm2_verify_raw(pub.get(), data, Bytes(sig, sig + 64)));
    EXPECT_FALSE(testpki::sm2_verify_raw(pub.get(), Bytes{'x'}, Bytes(sig, sig + 64)));
    // A wrong PIN ends the login.
    d_.VerifyPin(h, "000000");
    len = 1024;
    EXPECT_NE(d_.SignMessage(h, 0, data.data(), int(data.size()), sig, &len), 0);
    d_.CloseDevice(h);
}

TEST_F(DriverTest, PulledKeyFailsAndClosedHandleIsDead) {
    add_key("PULLME", 1);
    void* h = d_.OpenDevice();
    ASSERT_NE(h, nullptr);
    softkey::Store(root_).update("PULLME", [](softkey::KeyRecord& r) { r.present = false; });
    EXPECT_EQ(d_.GetUkSerial(h), nullptr);
    EXPECT_EQ(d_.EnumSeal(h), nullptr);
    EXPECT_NE(d_.VerifyPin(h, "580914"), 0);
    softkey::Store(root_).update("PULLME", [](softkey::KeyRecord& r) { r.present = true; });
    EXPECT_STREQ(d_.GetUkSerial(h), "PULLME");
    EXPECT_EQ(d_.CloseDevice(h), 0);
    EXPECT_EQ(d_.GetUkSerial(h), nullptr);
    EXPECT_NE(d_.CloseDevice(h), 0);
    int bogus = 0;
    EXPECT_EQ(d_.GetUkSerial(&bogus), nullptr);
}

// Two processes at once, the driver in one and the store directly in the other, as the driver
// and the device library under Wine share a key: no try is lost.
TEST_F(DriverTest, TwoProcessesCountEveryWrongPin) {
    softkey::FactoryOptions o = softkey::sm2_key("SHARED", 0);
    o.max_retries = 15;
    softkey::Store(root_).create(softkey::make_key(o));
    pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        void* h = d_.OpenDevice();
        int wrong = 0;
        for (int i = 0; h && i < 7; ++i)
            if ((unsigned(d_.VerifyPin(h, "000000")) & 0xFFFFFFF0u) == 0x800063C0u) ++wrong;
        _exit(wrong == 7 ? 0 : 1);
    }
    softkey::Store mine(root_);
    int wrong = 0;
    for (int i = 0; i < 7; ++i)
        if (mine.verify_pin("SHARED", "000000").result == softkey::PinResult::Wrong) ++wrong;
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(wrong, 7);
    EXPECT_EQ(mine.load("SHARED").pin.retries_left, 1);
}

std::string hex(const Bytes& b) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (uint8_t x : b) {
        s.push_back(digits[x >> 4]);
        s.push_back(digits[x & 15]);
    }
    return s;
}

std::string request(const std::string& prikey, const std::string& x, const std::string& y,
                    const Bytes& data) {
    return "<certinfo>\n\t<model>256</model>\n\t<prikey>" + prikey + "</prikey>\n\t<pubx>" + x +
           "</pubx>\n\t<puby>" + y + "</puby>\n\t<srcdata>" + kit::base64_encode(data) +
           "</srcdata>\n</certinfo>\n";
}

TEST_F(DriverTest, EccSignExtSignsWithTheRequestsKeyMaterial) {
    add_key("MAKER", 0);
    void* h = d_.OpenDevice();
    ASSERT_NE(h, nullptr);
    testpki::Pkey maker = testpki::make_sm2_key();
    Bytes d = testpki::sm2_private_scalar(maker.get());
    Bytes point = testpki::sm2_public_point(maker.get());
    Bytes x(point.begin() + 1, point.begin() + 33), y(point.begin() + 33, point.end());
    Bytes data(300, 0x5A);

    // Hex numbers, and Base64 numbers padded to 64 bytes: both are read.
    ASSERT_EQ(d.size(), 32u);
    Bytes padded_d(64, 0);
    std::copy(d.begin(), d.end(), padded_d.begin() + 32);
    for (const std::string& req :
         {request(hex(d), hex(x), hex(y), data),
          request(kit::base64_encode(padded_d), kit::base64_encode(x), kit::base64_encode(y), data),
          request(hex(d), "", "", data)}) {
        unsigned char sig[2048] = {};
        int len = 0;
        ASSERT_EQ(d_.ECCSignExt(h, req.c_str(), sig, &len), 0) << req;
        ASSERT_EQ(len, 64);
        EXPECT_TRUE(testpki::sm2_verify_raw(maker.get(), data, Bytes(sig, sig + 64)));
    }
    // Wrong public half, no key, not XML: refused without writing.
    Bytes other = testpki::sm2_public_point(testpki::make_sm2_key().get());
    Bytes ox(other.begin() + 1, other.begin() + 33);
    for (const std::string& req : {request(hex(d), hex(ox), hex(y), data),
                                   request("", "", "", data), std::string("not xml <")}) {
        unsigned char sig[2048] = {};
        int len = 0;
        EXPECT_NE(d_.ECCSignExt(h, req.c_str(), sig, &len), 0) << req;
        EXPECT_EQ(len, 0);
    }
    d_.CloseDevice(h);
}

}  // namespace

// Hosts call from several threads on one handle: an answer stays valid until the same thread
// asks again, whatever the other threads ask meanwhile (under ASan a freed answer is a report).
TEST_F(DriverTest, AnswersStayValidWhileOtherThreadsCallOnTheSameHandle) {
    softkey::KeyRecord key = softkey::make_key(softkey::sm2_key("THREADS", 1));
    for (int i = 0; i < 8; ++i) key.seals.push_back(Bytes(size_t(40 + 97 * i), uint8_t(i)));
    softkey::Store(root_).create(key);
    void* h = d_.OpenDevice();
    ASSERT_NE(h, nullptr);
    for (int threads : {2, 8}) {
        std::atomic<int> wrong{0};
        std::vector<std::thread> pool;
        for (int t = 0; t < threads; ++t) {
            pool.emplace_back([&, t] {
                for (int round = 0; round < 150; ++round) {
                    const char* seal = d_.ReadSeal(h, t);
                    const char* serial = d_.GetUkSerial(h);
                    const char* list = d_.EnumSeal(h);
                    const char* cert = d_.GetUkCert(h, 0);
                    std::this_thread::yield();
                    if (!seal || kit::base64_decode(seal) != key.seals[size_t(t)]) ++wrong;
                    if (!serial || std::string(serial) != "THREADS") ++wrong;
                    if (!list || kit::base64_decode(list).size() < 8 * 16) ++wrong;
                    if (!cert || std::string(cert).rfind("<ukcert><signcert>", 0) != 0) ++wrong;
                }
            });
        }
        for (auto& th : pool) th.join();
        EXPECT_EQ(wrong.load(), 0) << threads << " threads";
    }
    d_.CloseDevice(h);
}

// Two keys made without a holder name: their self-issued certificates share the issuer name, so
// only distinct serial numbers keep them apart in a certificate store.
TEST(SoftkeyFactory, KeysWithoutAHolderNeverShareAnIssuerAndSerial) {
    std::set<std::pair<std::string, std::string>> seen;
    size_t certificates = 0;
    for (const char* serial : {"FA1", "FA2"}) {
        softkey::FactoryOptions o;
        o.serial = serial;
        o.rsa_containers = 1;
        o.sm2_containers = 1;
        o.rsa_bits = 1024;
        softkey::KeyRecord r = softkey::make_key(o);
        std::vector<Bytes> ders{r.sign_cert};
        for (const auto& c : r.containers) {
            ders.push_back(c.sign_cert);
            ders.push_back(c.exch_cert);
        }
        for (const Bytes& der : ders) {
            testpki::Cert cert = testpki::cert_from_der(der);
            ASSERT_TRUE(cert);
            unsigned char* issuer = nullptr;
            int issuerLength = i2d_X509_NAME(X509_get_issuer_name(cert.get()), &issuer);
            ASSERT_GT(issuerLength, 0);
            std::string issuerText(reinterpret_cast<char*>(issuer), issuerLength);
            OPENSSL_free(issuer);
            BIGNUM* bn = ASN1_INTEGER_to_BN(X509_get_serialNumber(cert.get()), nullptr);
            char* hex = BN_bn2hex(bn);
            std::string serialText(hex);
            OPENSSL_free(hex);
            BN_free(bn);
            EXPECT_NE(serialText, "0");
            seen.emplace(issuerText, serialText);
            ++certificates;
        }
    }
    EXPECT_EQ(certificates, 10u);
    EXPECT_EQ(seen.size(), certificates);
}
