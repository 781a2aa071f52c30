// A host program's view of the two built libraries, the same source natively and under Wine
// (both Windows widths): Sealform's and Sealgate's exports called through the public headers
// against the stand-ins, on a fixture that run_host_tests.sh prepares with the native tools
// (software key with seals, PFX maker, certificates, registry services on 127.0.0.1).
//
// Everything a platform could render differently is also written to the output folder, where
// the script compares the Windows results with the native ones byte for byte and checks the
// made seals' signatures again with OpenSSL.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "certificatesdk.h"
#include "kit/base64.h"
#include "kit/certificate.h"
#include "kit/platform.h"
#include "sealform.h"
#include "sealgate.h"
#include "status_request.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string env(const char* name) { return kit::environment_variable(name); }

// A folder named by the environment (the script passes Windows programs "Z:/..." forms).
std::string folder(const char* name) {
    std::string v = env(name);
    return v.empty() ? v : kit::folder_with_separator(v);
}

std::string fixture(const std::string& name) { return folder("KIT_HOST_FIXTURE") + name; }
std::string output(const std::string& name) { return folder("KIT_HOST_OUT") + name; }

Bytes read_bytes(const std::string& path) {
    Bytes b;
    EXPECT_TRUE(kit::read_whole_file(path, b)) << "cannot read " << path;
    return b;
}

std::string read_text(const std::string& path) {
    Bytes b = read_bytes(path);
    return std::string(b.begin(), b.end());
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

void write_output(const std::string& name, const void* data, size_t size) {
    ASSERT_TRUE(kit::write_whole_file(output(name), data, size)) << "cannot write " << name;
}

void write_output(const std::string& name, const std::string& text) {
    write_output(name, text.data(), text.size());
}

class HostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(env("KIT_HOST_FIXTURE").empty()) << "run through run_host_tests.sh";
        ASSERT_FALSE(env("KIT_HOST_OUT").empty()) << "run through run_host_tests.sh";
        kit::set_environment_variable("RZLOG_FILE", output("trace.txt"));
    }
};

// ---- Sealform ------------------------------------------------------------------------------

TEST_F(HostTest, ParsingDescribesFixtureSealsAndRefusesOtherBytes) {
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        Bytes seal = read_bytes(fixture("seal" + std::to_string(i) + ".der"));
        ASSERT_FALSE(seal.empty());
        int length = static_cast<int>(seal.size());
        char* xml = ParsingSeal(seal.data(), &length);
        ASSERT_NE(xml, nullptr);
        ASSERT_EQ(std::strlen(xml), static_cast<size_t>(length));
        EXPECT_NE(std::string(xml).find("<sealinfos>"), std::string::npos);
        write_output("parse" + std::to_string(i) + ".xml", xml, static_cast<size_t>(length));
        ReleaseSealInfo();

        int needed = 0;
        ASSERT_EQ(
            ParsingSeal_SignWithKey(seal.data(), static_cast<int>(seal.size()), nullptr, &needed),
            0);
        std::string text(static_cast<size_t>(needed), '\0');
        int capacity = needed;
        ASSERT_EQ(ParsingSeal_SignWithKey(seal.data(), static_cast<int>(seal.size()), text.data(),
                                          &capacity),
                  0);
        EXPECT_EQ(capacity, needed);
        write_output("sealinfo" + std::to_string(i) + ".xml", text);
        int small = needed - 1;
        EXPECT_EQ(ParsingSeal_SignWithKey(seal.data(), static_cast<int>(seal.size()), text.data(),
                                          &small),
                  SEALFORM_BUFFER_TOO_SMALL);
        EXPECT_EQ(small, needed);
    }
    const unsigned char garbage[] = {0x30, 0x03, 0x02, 0x01, 0x05, 0xFF};
    int length = sizeof garbage;
    EXPECT_EQ(ParsingSeal(garbage, &length), nullptr);
    EXPECT_EQ(length, static_cast<int>(sizeof garbage));
    int xml_length = 0;
    EXPECT_EQ(ParsingSeal_SignWithKey(garbage, sizeof garbage, nullptr, &xml_length),
              SEALFORM_NOT_A_SEAL);
}

// The maker's signature of a seal checked the way Sealgate's offline check does it: the pieces
// from ParsingSeal_ForVerify, the certificate SDK with the platform's certificate context.
int check_maker_signature(const Bytes& seal, bool tamper) {
    Bytes info(20480), cert(5120), sign(1024);
    int info_length = static_cast<int>(info.size()), cert_length = static_cast<int>(cert.size()),
        sign_length = static_cast<int>(sign.size());
    int rc =
        ParsingSeal_ForVerify(seal.data(), static_cast<int>(seal.size()), info.data(), &info_length,
                              cert.data(), &cert_length, sign.data(), &sign_length);
    if (rc != 0) return -1;
    if (tamper) info[info_length / 2] ^= 0x01;
    kit::Module sdk = kit::Module::load("CertificateSDK.dll");
    auto verify = sdk.function<SKFVerifyData_fn>("SKFVerifyData");
    if (!verify) return -2;
    kit::Certificate certificate =
        kit::Certificate::decode(cert.data(), static_cast<size_t>(cert_length));
    if (!certificate) return -3;
    return verify(static_cast<CERTIFICATESDK_CERT>(certificate.context()), info.data(), info_length,
                  sign.data(), sign_length);
}

TEST_F(HostTest, MakesSealsWithThePfxAndWithTheKeyAndTheirSignaturesVerify) {
    kit::set_environment_variable("SOFTKEY_STORE", env("KIT_HOST_STORE"));
    struct Maker {
        const char* params;
        unsigned char* (*make)(const char*, int*);
        const char* out;
    } makers[] = {{"sealparams.xml", &MakeSeal, "made-pfx.der"},
                  {"sealinfo.xml", &MakeSeal_SignWithKey, "made-key.der"}};
    for (const Maker& m : makers) {
        SCOPED_TRACE(m.params);
        std::string params = read_text(fixture(m.params));
        int length = -1;
        unsigned char* der = m.make(params.c_str(), &length);
        ASSERT_NE(der, nullptr);
        ASSERT_GT(length, 0);
        Bytes seal(der, der + length);
        ReleaseSealData();
        write_output(m.out, seal.data(), seal.size());
        int xml_length = length;
        ASSERT_NE(ParsingSeal(seal.data(), &xml_length), nullptr);
        ReleaseSealInfo();
        EXPECT_EQ(check_maker_signature(seal, false), CERTIFICATESDK_VALID);
        EXPECT_EQ(check_maker_signature(seal, true), CERTIFICATESDK_INVALID);
    }
    int length = 7;
    EXPECT_EQ(MakeSeal("<sealparams/>", &length), nullptr);
    EXPECT_EQ(length, 7);
}

// ---- Sealgate ------------------------------------------------------------------------------

class SessionTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        kit::set_environment_variable("SOFTKEY_STORE", env("KIT_HOST_STORE"));
        kit::set_environment_variable("SOFTKEY_SERIAL", "");
        serial_ = trimmed(read_text(fixture("serial.txt")));
        ASSERT_EQ(InitialSession(&device_), 1);
        ASSERT_NE(device_, nullptr);
    }
    void TearDown() override {
        if (device_) CloseSession(device_);
        for (const char* v : {"SEALGATE_REGISTRY_URL", "SEALGATE_ONLINE", "SEALGATE_HTTP_TIMEOUT",
                              "SEALGATE_REGISTRY_CA_FILE"})
            kit::set_environment_variable(v, "");
    }

    std::string serial_;
    void* device_ = nullptr;
};

TEST_F(SessionTest, EveryFormOfEverySeal) {
    ASSERT_EQ(GetSealCount(device_), 2);
    int size = 0;
    ASSERT_EQ(GetSealInfo(nullptr, 0, 0, nullptr, &size), 1);
    ASSERT_EQ(size, SEALGATE_SEALINFO_SIZE);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const std::string n = std::to_string(i);
        Bytes buffer(static_cast<size_t>(size));
        int length = 0;
        ASSERT_EQ(GetSealInfo(device_, i, 0, buffer.data(), &length), 1);
        ASSERT_GE(length, 268);
        int32_t record_length;
        std::memcpy(&record_length, buffer.data() + 4, 4);
        EXPECT_EQ(record_length, length);
        write_output("record" + n + ".bin", buffer.data(), static_cast<size_t>(length));

        ASSERT_EQ(GetSealInfo(device_, i, 1, buffer.data(), &length), 1);
        std::string text(buffer.begin(), buffer.begin() + length);
        EXPECT_EQ(kit::base64_decode(text), read_bytes(fixture("seal" + n + ".der")));
        write_output("base64-" + n + ".txt", text);

        ASSERT_EQ(GetSealInfo(device_, i, 2, buffer.data(), &length), 1);
        std::string code(buffer.begin(), buffer.begin() + length);
        EXPECT_EQ(code, trimmed(read_text(fixture("code" + n + ".txt"))));
        write_output("code" + n + ".txt", code);

        EXPECT_EQ(GetSealInfo(device_, i, 3, buffer.data(), &length), 0);
    }
    Bytes buffer(static_cast<size_t>(size));
    int length = 0;
    EXPECT_EQ(GetSealInfo(device_, 2, 0, buffer.data(), &length), 0);
    EXPECT_EQ(GetSealInfo(nullptr, 0, 0, buffer.data(), &length), 0);
}

TEST_F(SessionTest, SerialCertificatePinAndRawSignature) {
    int size = 0;
    ASSERT_EQ(GetSerial(device_, nullptr, &size), 1);
    EXPECT_EQ(size, SEALGATE_SERIAL_SIZE);
    Bytes serial(static_cast<size_t>(size));
    int length = 0;
    ASSERT_EQ(GetSerial(device_, serial.data(), &length), 1);
    EXPECT_EQ(std::string(serial.begin(), serial.begin() + length), serial_);

    ASSERT_EQ(GetSignCert(device_, nullptr, &size), 1);
    EXPECT_EQ(size, SEALGATE_SIGNCERT_SIZE);
    Bytes cert(static_cast<size_t>(size));
    ASSERT_EQ(GetSignCert(device_, cert.data(), &length), 1);
    cert.resize(static_cast<size_t>(length));
    EXPECT_EQ(cert, read_bytes(fixture("signcert.der")));

    const unsigned char data[] = "data a host signs with the key";
    Bytes signature(SEALGATE_SIGNATURE_SIZE);
    int signature_length = static_cast<int>(signature.size());
    EXPECT_EQ(RawSignData(device_, data, sizeof data - 1, signature.data(), &signature_length), 0)
        << "signing before the PIN was verified";
    EXPECT_EQ(VerifyUserPin(device_, "000000"), 0);
    EXPECT_EQ(VerifyUserPin(device_, nullptr), 0);
    ASSERT_EQ(VerifyUserPin(device_, "580914"), 1);
    signature_length = static_cast<int>(signature.size());
    ASSERT_EQ(RawSignData(device_, data, sizeof data - 1, signature.data(), &signature_length), 1);
    ASSERT_EQ(signature_length, 64);
    signature.resize(64);
    write_output("rawsign.sig", signature.data(), signature.size());
    write_output("rawsign.dat", data, sizeof data - 1);

    kit::Module sdk = kit::Module::load("CertificateSDK.dll");
    auto verify = sdk.function<SKFVerifyData_fn>("SKFVerifyData");
    ASSERT_NE(verify, nullptr);
    kit::Certificate certificate = kit::Certificate::decode(cert.data(), cert.size());
    ASSERT_TRUE(certificate);
    auto context = static_cast<CERTIFICATESDK_CERT>(certificate.context());
    EXPECT_EQ(verify(context, data, sizeof data - 1, signature.data(), 64), CERTIFICATESDK_VALID);
    signature[10] ^= 0x40;
    EXPECT_EQ(verify(context, data, sizeof data - 1, signature.data(), 64), CERTIFICATESDK_INVALID);
}

const char kServicePath[] = "/pekorl/sealrecord/clientGetSealStatus";

std::string registry_port(const std::string& name) {
    return trimmed(read_text(fixture("registry-" + name + ".port")));
}

std::string registry_url(const char* behaviour) {
    return "http://127.0.0.1:" + registry_port(behaviour) + kServicePath;
}

// The HTTPS registry `name` (run_host_tests.sh), reached by the host name `host`.
std::string tls_url(const std::string& name, const char* host) {
    return std::string("https://") + host + ":" + registry_port(name) + kServicePath;
}

// The request log of registry `name` once it holds `count` requests (the registry writes it a
// moment after reading each request).
size_t posts(const std::string& log) {
    size_t seen = 0;
    for (size_t at = log.find("POST "); at != std::string::npos; at = log.find("POST ", at + 1))
        ++seen;
    return seen;
}

std::string request_log(size_t count, const std::string& name = "normal") {
    std::string text;
    for (int i = 0; i < 100; ++i) {
        Bytes b;
        kit::read_whole_file(fixture("registry-" + name + ".log"), b);
        text.assign(b.begin(), b.end());
        if (posts(text) >= count) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return text;
}

// The status request for seal 0 as the registry logs it: exactly the service's header lines in
// their order, with `host` in the Host line.
std::string expected_request(const std::string& host) {
    const std::string code = trimmed(read_text(fixture("code0.txt")));
    const std::string body = registry::status_request_form(code);
    return "POST /pekorl/sealrecord/clientGetSealStatus HTTP/1.1\n"
           "Accept: */*\n"
           "Content-Type: application/x-www-form-urlencoded\n"
           "Content-Length: " +
           std::to_string(body.size()) +
           "\n"
           "Character-Encoding: binary\n"
           "Host: " +
           host +
           "\n"
           "Connection: Keep-Alive\n"
           "Pragma: no-cache\n"
           "\n" +
           body + "\n";
}

TEST_F(SessionTest, StatusOnlineFromTheRegistryAndOfflineFromTheSignature) {
    kit::set_environment_variable("SEALGATE_ONLINE", "1");
    kit::set_environment_variable("SEALGATE_HTTP_TIMEOUT", "5");
    kit::set_environment_variable("SEALGATE_REGISTRY_URL", registry_url("normal"));
    const int registered = std::atoi(read_text(fixture("status0.txt")).c_str());
    ASSERT_NE(registered, 0);
    EXPECT_EQ(GetSealStatus(device_, 0), registered);
    // The expired seal is refused before any request.
    EXPECT_EQ(GetSealStatus(device_, 1), 3);
    EXPECT_EQ(GetSealStatus(device_, 7), 5);
    EXPECT_EQ(GetSealStatus(nullptr, 0), 0);

    // The one request, with exactly the service's header lines in their order.
    const std::string expected = expected_request("127.0.0.1");
    EXPECT_EQ(request_log(1), expected);

    kit::set_environment_variable("SEALGATE_ONLINE", "0");
    EXPECT_EQ(GetSealStatus(device_, 0), 1);
    EXPECT_EQ(GetSealStatus(device_, 1), 3);
    // One more online check marks the end: once it is logged, a request of the offline checks
    // would be logged before it.
    kit::set_environment_variable("SEALGATE_ONLINE", "1");
    EXPECT_EQ(GetSealStatus(device_, 0), registered);
    EXPECT_EQ(request_log(2), expected + expected) << "offline checks asked the registry";
}

// The registry over HTTPS with a certificate for "localhost" from the fixture's test CA, which
// Windows trusts through the prefix's trusted roots and Linux through SEALGATE_REGISTRY_CA_FILE.
// Trusted, it answers as over HTTP, to the same request. Each TLS failure answers 5 with the
// trace step naming it, and nothing goes out over plain HTTP instead.
TEST_F(SessionTest, StatusOverTlsOnlyFromATrustedRegistry) {
    kit::set_environment_variable("SEALGATE_ONLINE", "1");
    kit::set_environment_variable("SEALGATE_HTTP_TIMEOUT", "5");
#ifndef _WIN32
    kit::set_environment_variable("SEALGATE_REGISTRY_CA_FILE", fixture("tls/ca.pem"));
#endif
    kit::set_environment_variable("SEALGATE_REGISTRY_URL", tls_url("tls", "localhost"));
    const int registered = std::atoi(read_text(fixture("status0.txt")).c_str());
    EXPECT_EQ(GetSealStatus(device_, 0), registered);
    EXPECT_EQ(GetSealStatus(device_, 1), 3);
    EXPECT_EQ(GetSealStatus(device_, 7), 5);
    EXPECT_EQ(request_log(1, "tls"), expected_request("localhost"));

    const size_t plain_requests = posts(request_log(0));
    const std::pair<std::string, const char*> failures[] = {
        {tls_url("tls-stranger", "localhost"), "untrusted issuer"},
        {tls_url("tls", "127.0.0.1"), "wrong host name"},  // the certificate names localhost
        {tls_url("tls-expired", "localhost"), "expired certificate"},
        {tls_url("normal", "localhost"), "handshake failed"}};  // plain HTTP on that port
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.first);
        kit::set_environment_variable("SEALGATE_REGISTRY_URL", failure.first);
        Bytes before;
        kit::read_whole_file(output("trace.txt"), before);
        EXPECT_EQ(GetSealStatus(device_, 0), 5);
        std::string trace = read_text(output("trace.txt")).substr(before.size());
        EXPECT_NE(trace.find(std::string("PostDataByHttp...5.1::TLS::") + failure.second + "\n"),
                  std::string::npos)
            << trace;
    }
    // One plain request marks the end: once it is logged, any fallback to plain HTTP would be.
    kit::set_environment_variable("SEALGATE_REGISTRY_URL", registry_url("normal"));
    EXPECT_EQ(GetSealStatus(device_, 0), registered);
    EXPECT_EQ(posts(request_log(plain_requests + 1)), plain_requests + 1)
        << "a request went out over plain HTTP";
}

TEST_F(SessionTest, RegistryFaultsGiveFiveWithinTheTimeLimit) {
    kit::set_environment_variable("SEALGATE_ONLINE", "1");
    kit::set_environment_variable("SEALGATE_HTTP_TIMEOUT", "2");
    for (const char* behaviour : {"500", "garbage", "slow", "silent"}) {
        SCOPED_TRACE(behaviour);
        kit::set_environment_variable("SEALGATE_REGISTRY_URL", registry_url(behaviour));
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(GetSealStatus(device_, 0), 5);
        auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
        EXPECT_LT(seconds.count(), 4.0);
    }
    // Nobody listens on this port: refused at once.
    kit::set_environment_variable("SEALGATE_REGISTRY_URL",
                                  "http://127.0.0.1:9/pekorl/sealrecord/clientGetSealStatus");
    EXPECT_EQ(GetSealStatus(device_, 0), 5);
    kit::set_environment_variable("SEALGATE_REGISTRY_URL",
                                  "ftp://127.0.0.1/pekorl/sealrecord/clientGetSealStatus");
    EXPECT_EQ(GetSealStatus(device_, 0), 5);
}

// ---- the platform's certificate handling ---------------------------------------------------

TEST_F(HostTest, SubjectStringsOfFixtureCertificates) {
    std::istringstream names(read_text(fixture("certs/list.txt")));
    std::string name, lines;
    int count = 0;
    while (std::getline(names, name)) {
        if (name.empty()) continue;
        Bytes der = read_bytes(fixture("certs/" + name + ".der"));
        std::string subject;
        ASSERT_EQ(kit::certificate_subject(der.data(), der.size(), subject),
                  kit::SubjectResult::kOk)
            << name;
        EXPECT_TRUE(kit::Certificate::decode(der.data(), der.size())) << name;
        lines += name + "\t" + subject + "\n";
        ++count;
    }
    EXPECT_GE(count, 3);
    write_output("subjects.txt", lines);
    // The X.500 string form: a value is quoted only when it must be, Chinese text never by
    // itself; the system code page's bytes (GBK).
    const std::string expected[] = {
        "plain\tC=CN, O=Kit Test, OU=Seals, CN=Plain Holder\n",
        "chinese\tC=CN, S=" + kit::from_utf8("江苏") + ", L=" + kit::from_utf8("南京") +
            ", O=" + kit::from_utf8("测试单位") + ", CN=" + kit::from_utf8("张三") + "\n",
        "quoting\tO=\"Comma, Inc.\", OU=\" padded \", CN=\"a=b+c \"\"quoted\"\";#<>\"\n",
        "multivalue\tC=CN, O=Kit Test, SERIALNUMBER=12345 + CN=Holder\n",
        "oid\tCN=Odd Holder, OID.0.9.2342.19200300.100.1.1=odd value, T=Officer, G=Given, "
        "SN=Family\n",
        "chinese-blanks\tO=" + kit::from_utf8("丠") + ", CN=" + kit::from_utf8("三张") +
            ", OU=" + kit::from_utf8("张") + "\n"};
    for (const std::string& line : expected)
        EXPECT_NE(lines.find(line), std::string::npos) << "missing: " << kit::to_utf8(line);
    const Bytes cut = read_bytes(fixture("signcert.der"));
    std::string subject = "unchanged";
    EXPECT_EQ(kit::certificate_subject(cut.data(), 40, subject),
              kit::SubjectResult::kNotACertificate);
    EXPECT_EQ(subject, "unchanged");
    EXPECT_FALSE(kit::Certificate::decode(cut.data(), 40));
}

// The screen the pictures are measured on: the script runs the native side with the same.
TEST_F(HostTest, ScreenMetricsAreWrittenForTheComparison) {
    kit::ScreenMetrics m = kit::screen_metrics();
    EXPECT_GT(m.width, 0);
    EXPECT_GT(m.dpi_x, 0);
    write_output("screen.txt", std::to_string(m.width) + "x" + std::to_string(m.height) + " " +
                                   std::to_string(m.dpi_x) + "x" + std::to_string(m.dpi_y) + "\n");
}

}  // namespace
