#include "testpki.h"

#include <gtest/gtest.h>
#include <openssl/pkcs12.h>

#include <cstdlib>
#include <fstream>

namespace {

TEST(TestPki, Sm2RawSignatureRoundTripsAndDetectsChange) {
    auto key = testpki::make_sm2_key();
    testpki::Bytes data{'s', 'e', 'a', 'l'};
    auto sig = testpki::sm2_sign_raw(key.get(), data);
    ASSERT_EQ(sig.size(), 64u);
    EXPECT_TRUE(testpki::sm2_verify_raw(key.get(), data, sig));
    data[0] ^= 1;
    EXPECT_FALSE(testpki::sm2_verify_raw(key.get(), data, sig));
}

TEST(TestPki, CertificatesAndPfxReadBack) {
    auto ca_key = testpki::make_sm2_key();
    testpki::CertSpec ca_spec;
    ca_spec.common_name = "Kit Test CA";
    auto ca = testpki::make_certificate(ca_key.get(), ca_spec);
    auto key = testpki::make_sm2_key();
    testpki::CertSpec spec;
    spec.common_name = "\xE5\xBC\xA0\xE4\xB8\x89";  // a Chinese name, UTF-8
    spec.serial = 7;
    auto cert = testpki::make_certificate(key.get(), spec, ca_key.get(), ca.get());
    // SM2 certificate signatures use the default user id; tell the verifier so.
    ASN1_OCTET_STRING* id = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(id, reinterpret_cast<const unsigned char*>("1234567812345678"), 16);
    X509_set0_distinguishing_id(cert.get(), id);
    EXPECT_EQ(X509_verify(cert.get(), ca_key.get()), 1);

    auto der = testpki::cert_der(cert.get());
    auto back = testpki::cert_from_der(der);
    ASSERT_TRUE(back);
    EXPECT_EQ(X509_cmp(back.get(), cert.get()), 0);

    auto pfx = testpki::make_pfx(key.get(), cert.get(), "p@ss");
    const unsigned char* p = pfx.data();
    PKCS12* p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(pfx.size()));
    ASSERT_NE(p12, nullptr);
    EVP_PKEY* k = nullptr;
    X509* c = nullptr;
    EXPECT_EQ(PKCS12_parse(p12, "wrong", &k, &c, nullptr), 0);
    ASSERT_EQ(PKCS12_parse(p12, "p@ss", &k, &c, nullptr), 1);
    EXPECT_EQ(EVP_PKEY_eq(k, key.get()), 1);
    EVP_PKEY_free(k);
    X509_free(c);
    PKCS12_free(p12);

    auto rsa = testpki::make_rsa_key(1024);
    auto rsa_cert = testpki::make_certificate(rsa.get(), spec);
    EXPECT_EQ(X509_verify(rsa_cert.get(), rsa.get()), 1);
    EXPECT_EQ(testpki::private_key_from_der(testpki::private_key_der(key.get())) != nullptr, true);
    EXPECT_EQ(testpki::sm2_private_scalar(key.get()).size(), 32u);
    EXPECT_EQ(testpki::sm2_public_point(key.get()).size(), 65u);
}

}  // namespace
