// The PFX signer and the certificate SDK stand-ins on real PKCS #12 files and SM2 keys.
#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <string>

#include "certificatesdk.h"
#include "kit/base64.h"
#include "kit/platform.h"
#include "signaturemodule.h"
#include "testpki.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Maker {
    testpki::Pkey key = testpki::make_sm2_key();
    testpki::Cert cert;
    Bytes cert_der;
    kit::TempFile pfx;
    Maker() {
        testpki::CertSpec spec;
        spec.common_name = "Signer Test";
        cert = testpki::make_certificate(key.get(), spec);
        cert_der = testpki::cert_der(cert.get());
        testpki::write_file(pfx.path(), testpki::make_pfx(key.get(), cert.get(), "pw-1"));
    }
};

Bytes decode(const std::string& text) {
    int n = -1;
    EXPECT_EQ(Base64_decode(text.c_str(), static_cast<int>(text.size()), nullptr, &n), 0);
    Bytes out(static_cast<size_t>(n) + 4, 0xEE);
    int stored = -1;
    Base64_decode(text.c_str(), static_cast<int>(text.size()), out.data(), &stored);
    EXPECT_EQ(stored, n);
    EXPECT_EQ(out[static_cast<size_t>(n)], 0xEE) << "wrote past the decoded length";
    out.resize(static_cast<size_t>(stored));
    return out;
}

TEST(SignerBase64, DecodesWrappedTextAndStopsAtPadding) {
    EXPECT_EQ(decode("AQID"), (Bytes{1, 2, 3}));
    EXPECT_EQ(decode("AQ\r\nID\n"), (Bytes{1, 2, 3}));
    EXPECT_EQ(decode("BAU=AQID"), (Bytes{4, 5}));
    EXPECT_EQ(decode(""), Bytes{});
    int n = 0;
    EXPECT_EQ(Base64_decode(nullptr, 0, nullptr, &n), SIGNATUREMODULE_BAD_ARGUMENT);
}

TEST(SignerPfx, CertificateInformationCarriesTheCertificate) {
    Maker maker;
    std::vector<char> info(SIGNATUREMODULE_INFO_SIZE, 0);
    int length = 0;
    ASSERT_EQ(ParsePfxFile(maker.pfx.path().c_str(), "pw-1", info.data(), &length), 0);
    EXPECT_EQ(static_cast<size_t>(length), std::string(info.data()).size());
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(info.data()));
    EXPECT_EQ(decode(doc.child("infos").child("cer").text().get()), maker.cert_der);
    EXPECT_NE(std::string(doc.child("infos").child("subject").text().get()).find("CN=Signer Test"),
              std::string::npos);
}

TEST(SignerPfx, ReadFailuresHaveTheirOwnCodes) {
    Maker maker;
    std::vector<char> info(SIGNATUREMODULE_INFO_SIZE, 0);
    int length = 0;
    EXPECT_EQ(ParsePfxFile(maker.pfx.path().c_str(), "wrong", info.data(), &length),
              SIGNATUREMODULE_BAD_PASSWORD);
    EXPECT_EQ(ParsePfxFile("/nonexistent/x.pfx", "pw-1", info.data(), &length),
              SIGNATUREMODULE_NO_FILE);
    kit::TempFile junk;
    testpki::write_file(junk.path(), Bytes(300, 0x30));
    EXPECT_EQ(ParsePfxFile(junk.path().c_str(), "pw-1", info.data(), &length),
              SIGNATUREMODULE_NOT_PFX);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(info[0], 0) << "nothing written on failure";
}

TEST(SignerPfx, SignsWithSm2AndRefusesOtherKeys) {
    Maker maker;
    const Bytes data{'s', 'e', 'a', 'l'};
    Bytes sig(SIGNATUREMODULE_SIGN_SIZE, 0);
    int length = 0;
    ASSERT_EQ(PfxSign(maker.pfx.path().c_str(), "pw-1", data.data(), 4, sig.data(), &length), 0);
    ASSERT_EQ(length, 64);
    sig.resize(64);
    EXPECT_TRUE(testpki::sm2_verify_raw(maker.key.get(), data, sig));
    EXPECT_FALSE(testpki::sm2_verify_raw(maker.key.get(), Bytes{'s', 'e', 'a', 'L'}, sig));

    testpki::Pkey rsa = testpki::make_rsa_key(2048);
    testpki::Cert rsa_cert = testpki::make_certificate(rsa.get(), testpki::CertSpec{});
    kit::TempFile rsa_pfx;
    testpki::write_file(rsa_pfx.path(), testpki::make_pfx(rsa.get(), rsa_cert.get(), "pw-1"));
    Bytes out(SIGNATUREMODULE_SIGN_SIZE, 0);
    EXPECT_EQ(PfxSign(rsa_pfx.path().c_str(), "pw-1", data.data(), 4, out.data(), &length),
              SIGNATUREMODULE_NOT_SM2);
    EXPECT_EQ(PfxSign(maker.pfx.path().c_str(), "bad", data.data(), 4, out.data(), &length),
              SIGNATUREMODULE_BAD_PASSWORD);
}

TEST(CertificateSdk, ChecksSm2SignaturesWithTheCertificatesKey) {
    kit::Module sdk = kit::Module::load("CertificateSDK.dll");
    auto verify = sdk.function<SKFVerifyData_fn>("SKFVerifyData");
    ASSERT_TRUE(verify);
    Maker maker;
    const Bytes data(1000, 0x42);
    Bytes sig = testpki::sm2_sign_raw(maker.key.get(), data);
    CERTIFICATESDK_CONTEXT ctx{0x10001, maker.cert_der.data(),
                               static_cast<uint32_t>(maker.cert_der.size()), nullptr, nullptr};
    EXPECT_EQ(verify(&ctx, data.data(), 1000, sig.data(), 64), CERTIFICATESDK_VALID);
    EXPECT_EQ(verify(&ctx, data.data(), 999, sig.data(), 64), CERTIFICATESDK_INVALID);
    Bytes changed = sig;
    changed[40] ^= 1;
    EXPECT_EQ(verify(&ctx, data.data(), 1000, changed.data(), 64), CERTIFICATESDK_INVALID);
    EXPECT_EQ(verify(&ctx, data.data(), 1000, sig.data(), 63), CERTIFICATESDK_BAD_SIGNATURE);
    EXPECT_EQ(verify(nullptr, data.data(), 1000, sig.data(), 64), CERTIFICATESDK_BAD_ARGUMENT);

    Bytes junk(100, 0x30);
    CERTIFICATESDK_CONTEXT bad{0x10001, junk.data(), 100, nullptr, nullptr};
    EXPECT_EQ(verify(&bad, data.data(), 1000, sig.data(), 64), CERTIFICATESDK_BAD_CERT);
    testpki::Pkey rsa = testpki::make_rsa_key(2048);
    Bytes rsa_der = testpki::cert_der(testpki::make_certificate(rsa.get(), {}).get());
    CERTIFICATESDK_CONTEXT rsa_ctx{0x10001, rsa_der.data(), static_cast<uint32_t>(rsa_der.size()),
                                   nullptr, nullptr};
    EXPECT_EQ(verify(&rsa_ctx, data.data(), 1000, sig.data(), 64), CERTIFICATESDK_NOT_SM2);
}

}  // namespace
