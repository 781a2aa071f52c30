// ParsingSeal_ForVerify through the shared library: the three outputs, the capacity a caller
// tells, and signed bytes that match the maker's in every time zone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "kit/base64.h"
#include "maker_fixture.h"
#include "seal_fixture.h"
#include "sealform_host.h"
#include "testpki.h"

namespace sealform::testing {
namespace {

using sealform::testing::TimeZone;

class ForVerifyTest : public SealformHost {
  protected:
    static constexpr uint8_t kFill = 0xCC;

    struct Call {
        int rc = -1;
        Bytes info = Bytes(20480, kFill), cert = Bytes(5120, kFill), sign = Bytes(1024, kFill);
        int info_len = 20480, cert_len = 5120, sign_len = 1024;
    };
    Call call(const Bytes& seal) { return call(seal, Call()); }
    Call call(const Bytes& seal, Call c) {
        c.rc = for_verify_(seal.data(), static_cast<int>(seal.size()), c.info.data(), &c.info_len,
                           c.cert.data(), &c.cert_len, c.sign.data(), &c.sign_len);
        return c;
    }
    static bool untouched(const Bytes& b) {
        for (uint8_t v : b)
            if (v != kFill) return false;
        return true;
    }
    static Bytes head(const Bytes& b, int n) { return Bytes(b.begin(), b.begin() + n); }
};

TEST_F(ForVerifyTest, GivesTheSealInformationCertificateAndSignature) {
    SealSpec spec;
    spec.holder_certs = {{1, 2, 3}};
    spec.maker_cert = Bytes(700, 0x5A);
    for (size_t i = 0; i < spec.signature.size(); ++i) spec.signature[i] = static_cast<uint8_t>(i);
    Bytes seal = encode_seal(spec);
    SealPtr built = build_seal(spec);
    Bytes info_der;
    ASSERT_TRUE(der_encode(&asn_DEF_SESSealInfo, &built->sesSealInfo, info_der));

    Call c = call(seal);
    ASSERT_EQ(c.rc, 0);
    EXPECT_EQ(head(c.info, c.info_len), info_der);
    EXPECT_EQ(Bytes(seal.begin() + 4, seal.begin() + 4 + c.info_len), info_der)
        << "the info bytes are the element as it stands in the seal";
    EXPECT_EQ(head(c.cert, c.cert_len), spec.maker_cert);
    EXPECT_EQ(c.sign_len, 64);
    EXPECT_EQ(head(c.sign, c.sign_len), spec.signature);
    EXPECT_TRUE(untouched(Bytes(c.info.begin() + c.info_len, c.info.end())));
    EXPECT_NE(rzlog().find("ParsingSeal_ForVerify------------------5"), std::string::npos);
}

// BER with indefinite lengths: the information element is handed over as it stands.
TEST_F(ForVerifyTest, IndefiniteLengthSealGivesItsElementAsItStands) {
    SealSpec spec;
    spec.picture = Bytes(1000, 0x42);
    Bytes der = encode_seal(spec);
    // Seals of this size use two-byte long-form lengths ("82 xx xx") outside and inside.
    ASSERT_EQ(der[1], 0x82);
    ASSERT_EQ(der[5], 0x82);
    size_t info_len = (size_t(der[6]) << 8) | der[7];
    Bytes info_content(der.begin() + 8, der.begin() + 8 + static_cast<long>(info_len));
    Bytes rest(der.begin() + 8 + static_cast<long>(info_len), der.end());
    Bytes info_ber{0x30, 0x80};
    info_ber.insert(info_ber.end(), info_content.begin(), info_content.end());
    info_ber.insert(info_ber.end(), {0x00, 0x00});
    Bytes ber{0x30, 0x80};
    ber.insert(ber.end(), info_ber.begin(), info_ber.end());
    ber.insert(ber.end(), rest.begin(), rest.end());
    ber.insert(ber.end(), {0x00, 0x00, 0xFF});  // end of contents, then a byte after the seal

    Call c = call(ber);
    ASSERT_EQ(c.rc, 0);
    EXPECT_EQ(head(c.info, c.info_len), info_ber);
    EXPECT_EQ(c.sign_len, 64);
}

TEST_F(ForVerifyTest, NullBuffersSkipTheirOutputs) {
    Bytes seal = encode_seal(SealSpec{});
    int a = -3, b = -4, c = -5;
    EXPECT_EQ(for_verify_(seal.data(), static_cast<int>(seal.size()), nullptr, &a, nullptr, &b,
                          nullptr, &c),
              0);
    EXPECT_EQ(a, -3);
    EXPECT_EQ(b, -4);
    EXPECT_EQ(c, -5);

    Bytes sign(1024, kFill);
    int sign_len = 0;  // zero: capacity not told
    EXPECT_EQ(for_verify_(seal.data(), static_cast<int>(seal.size()), nullptr, nullptr, nullptr,
                          nullptr, sign.data(), &sign_len),
              0);
    EXPECT_EQ(sign_len, 64);
}

TEST_F(ForVerifyTest, BytesThatAreNotASealGive404AndNoOutput) {
    Bytes seal = encode_seal(SealSpec{});
    const Bytes not_seals[] = {
        Bytes{0x30, 0x03, 0x02, 0x01, 0x04},
        Bytes(seal.begin(), seal.begin() + static_cast<long>(seal.size()) - 10),
        Bytes(100, 0x00),
    };
    for (const Bytes& bytes : not_seals) {
        Call c = call(bytes);
        EXPECT_EQ(c.rc, SEALFORM_NOT_A_SEAL);
        EXPECT_TRUE(untouched(c.info) && untouched(c.cert) && untouched(c.sign));
        EXPECT_EQ(c.info_len, 20480);
        EXPECT_EQ(c.sign_len, 1024);
    }
    EXPECT_EQ(for_verify_(nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              SEALFORM_NOT_A_SEAL);
}

TEST_F(ForVerifyTest, NothingIsWrittenPastTheCapacityTold) {
    SealSpec spec;
    spec.picture = Bytes(30000, 0x42);    // seal information larger than 20480 bytes
    spec.maker_cert = Bytes(6000, 0x5A);  // certificate larger than 5120 bytes
    Bytes seal = encode_seal(spec);

    Call c = call(seal);
    EXPECT_EQ(c.rc, SEALFORM_BUFFER_TOO_SMALL);
    EXPECT_TRUE(untouched(c.info) && untouched(c.cert) && untouched(c.sign));
    EXPECT_GT(c.info_len, 30000) << "the length needed is reported";
    EXPECT_EQ(c.cert_len, 6000);
    EXPECT_EQ(c.sign_len, 64);

    // Exactly the capacity needed is enough.
    Call exact;
    exact.info_len = c.info_len;
    exact.info.assign(static_cast<size_t>(c.info_len), kFill);
    exact.cert_len = 6000;
    exact.cert.assign(6000, kFill);
    exact.sign_len = 64;
    exact.sign.assign(64, kFill);
    exact = call(seal, exact);
    EXPECT_EQ(exact.rc, 0);
    EXPECT_EQ(head(exact.cert, 6000), spec.maker_cert);
}

TEST_F(ForVerifyTest, SignedBytesMatchTheMakersInEveryTimeZone) {
    const MakerMaterial& material = MakerMaterial::shared();
    std::string params = SealParams::standard(material).xml();
    Bytes seal;
    {
        TimeZone china("CST-8");
        seal = make(params);
        ASSERT_FALSE(seal.empty()) << markers();
    }
    for (const char* tz : {"UTC0", "CST-8", "EST5EDT,M3.2.0,M11.1.0", "NPT-5:45"}) {
        TimeZone zone(tz);
        Call c = call(seal);
        ASSERT_EQ(c.rc, 0) << tz;
        EXPECT_TRUE(testpki::sm2_verify_raw(material.maker_key.get(), head(c.info, c.info_len),
                                            head(c.sign, c.sign_len)))
            << "time zone " << tz;
    }
    // Re-encoding the stored information would not do away from UTC: the times move.
    TimeZone china("CST-8");
    SealPtr decoded = decode_seal(seal.data(), seal.size());
    Bytes reencoded;
    ASSERT_TRUE(der_encode(&asn_DEF_SESSealInfo, &decoded->sesSealInfo, reencoded));
    Call c = call(seal);
    EXPECT_NE(head(c.info, c.info_len), reencoded);
}

}  // namespace
}  // namespace sealform::testing
