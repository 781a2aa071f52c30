// The seal's DER encoding and BER decoding.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "generalized_time.h"
#include "kit/platform.h"
#include "seal_fixture.h"

namespace sealform {
namespace {

using sealform::testing::TimeZone;

using testing::SealSpec;
using Bytes = std::vector<uint8_t>;

// Finds `needle` in `hay`; npos when absent.
size_t find(const Bytes& hay, const Bytes& needle) {
    auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end());
    return it == hay.end() ? std::string::npos : static_cast<size_t>(it - hay.begin());
}

Bytes encode_header(long version) {
    SESHeader_t header{};
    set_member(header.esID, std::string("ES"));
    header.version = version;
    set_member(header.vid, std::string("RZ"));
    Bytes out;
    EXPECT_TRUE(der_encode(&asn_DEF_SESHeader, &header, out));
    asn_DEF_SESHeader.free_struct(&asn_DEF_SESHeader, &header, 1);
    return out;
}

TEST(SealEncoding, IntegersUseShortestTwosComplement) {
    EXPECT_EQ(encode_header(4),
              (Bytes{0x30, 0x0B, 0x16, 0x02, 'E', 'S', 0x02, 0x01, 0x04, 0x16, 0x02, 'R', 'Z'}));
    Bytes v128 = encode_header(128);
    EXPECT_NE(find(v128, {0x02, 0x02, 0x00, 0x80}), std::string::npos);
    Bytes minus1 = encode_header(-1);
    EXPECT_NE(find(minus1, {0x02, 0x01, 0xFF, 0x16}), std::string::npos);
}

TEST(SealEncoding, CriticalFalseIsWrittenAndOptionalExtensionsLeftOut) {
    SealSpec spec;
    Bytes with = testing::encode_seal(spec);
    // ExtData { 1.2.3, FALSE, "1" }
    EXPECT_NE(find(with, {0x30, 0x0A, 0x06, 0x02, 0x2A, 0x03, 0x01, 0x01, 0x00, 0x04, 0x01, '1'}),
              std::string::npos);
    spec.with_ext_data = false;
    Bytes without = testing::encode_seal(spec);
    EXPECT_EQ(find(without, {0x01, 0x01, 0x00}), std::string::npos);
    SealPtr back = decode_seal(without.data(), without.size());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->sesSealInfo.extDatas, nullptr);
    back = decode_seal(with.data(), with.size());
    ASSERT_TRUE(back && back->sesSealInfo.extDatas);
    ASSERT_EQ(back->sesSealInfo.extDatas->list.count, 1);
    ASSERT_NE(back->sesSealInfo.extDatas->list.array[0]->critical, nullptr);
    EXPECT_EQ(*back->sesSealInfo.extDatas->list.array[0]->critical, 0);
}

TEST(SealEncoding, AlgorithmAndSignatureBits) {
    Bytes der = testing::encode_seal(SealSpec{});
    EXPECT_NE(find(der, {0x06, 0x08, 0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x83, 0x75, 0x03, 0x41,
                         0x00, 0xA5}),
              std::string::npos);
}

TEST(SealEncoding, HolderCertificatesKeepTheirOrder) {
    SealSpec spec;
    spec.holder_certs = {{0x01, 0x11}, {0x02, 0x22}, {0x03, 0x33}};
    Bytes der = testing::encode_seal(spec);
    size_t a = find(der, {0x04, 0x02, 0x01, 0x11});
    size_t b = find(der, {0x04, 0x02, 0x02, 0x22});
    size_t c = find(der, {0x04, 0x02, 0x03, 0x33});
    ASSERT_NE(c, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
}

TEST(GeneralizedTimeRule, LocalTextKeepsItsDigitsAndGainsZ) {
    for (const char* tz : {"UTC0", "CST-8", "EST5EDT"}) {
        TimeZone zone(tz);
        SealSpec spec;
        Bytes der = testing::encode_seal(spec);
        Bytes expected{0x18, 0x0F};
        std::string text = "20210513100248Z";
        expected.insert(expected.end(), text.begin(), text.end());
        EXPECT_NE(find(der, expected), std::string::npos) << tz;
    }
}

TEST(GeneralizedTimeRule, ZonedTextIsShiftedToLocalTime) {
    {
        TimeZone zone("CST-8");  // UTC+8, no daylight saving
        EXPECT_EQ(local_generalized_time("20210513100248Z"), "20210513180248Z");
        EXPECT_EQ(local_generalized_time("20210513100248+0800"), "20210513100248Z");
        EXPECT_EQ(local_generalized_time("20211231200000-0500"), "20220101090000Z");
    }
    {
        TimeZone zone("UTC0");
        EXPECT_EQ(local_generalized_time("20210513100248Z"), "20210513100248Z");
        EXPECT_EQ(local_generalized_time("20210513100248+0800"), "20210513020248Z");
    }
}

TEST(GeneralizedTimeRule, OptionalPartsAndFractions) {
    TimeZone zone("UTC0");
    EXPECT_EQ(local_generalized_time("2021051310"), "20210513100000Z");
    EXPECT_EQ(local_generalized_time("202105131002"), "20210513100200Z");
    EXPECT_EQ(local_generalized_time("20210513100248.5"), "20210513100248.5Z");
    EXPECT_EQ(local_generalized_time("20210513100248,250"), "20210513100248.25Z");
    EXPECT_EQ(local_generalized_time("20210513100248.000"), "20210513100248Z");
    EXPECT_EQ(local_generalized_time("20210513100248.12345678Z"), "20210513100248.123456Z");
    EXPECT_EQ(local_generalized_time("20240229000000Z"), "20240229000000Z");
}

TEST(GeneralizedTimeRule, TextThatIsNotATimeFailsTheWholeEncoding) {
    for (const char* bad :
         {"", "2021", "20210513", "2021051310024", "20211313100248", "20210230100248",
          "20210513250000", "20210513100248Q", "20210513100248.", "20210513100248+08",
          "next tuesday", "20230229000000"}) {
        EXPECT_FALSE(local_generalized_time(bad)) << bad;
        SealSpec spec;
        spec.valid_end = bad;
        EXPECT_TRUE(testing::encode_seal(spec).empty()) << bad;
    }
}

TEST(SealDecoding, RoundTripKeepsEveryMemberAndTimesUnchanged) {
    SealSpec spec;
    spec.holder_certs = {{1, 2, 3}, {4, 5}};
    spec.valid_end = "20310513100248Z";
    Bytes der = testing::encode_seal(spec);
    SealPtr seal = decode_seal(der.data(), der.size());
    ASSERT_TRUE(seal);
    const auto& info = seal->sesSealInfo;
    EXPECT_EQ(member_text(info.header.esID), "ES");
    EXPECT_EQ(info.header.version, 4);
    EXPECT_EQ(member_text(info.property.name), spec.name);
    EXPECT_EQ(info.property.certList.list.count, 2);
    EXPECT_EQ(member_text(info.property.createDate), "20210513100248Z");
    EXPECT_EQ(member_bytes(info.picture.data), spec.picture);
    EXPECT_EQ(member_bytes(seal->cert), spec.maker_cert);
    Bytes again;
    ASSERT_TRUE(der_encode(&asn_DEF_SESeal, seal.get(), again));
    EXPECT_EQ(again, der);
}

TEST(SealDecoding, TrailingBytesAfterTheSealAreIgnored) {
    Bytes der = testing::encode_seal(SealSpec{});
    der.insert(der.end(), {0xDE, 0xAD, 0xBE, 0xEF, 0x00});
    EXPECT_TRUE(decode_seal(der.data(), der.size()));
}

// A seal of more than 255 bytes, so its outer length takes the two-byte long form.
Bytes long_form_seal() {
    SealSpec spec;
    spec.picture.assign(400, 0x42);
    return testing::encode_seal(spec);
}

TEST(SealDecoding, TrailingMemberAfterSignatureIsRejected) {
    Bytes der = long_form_seal();
    // Append INTEGER 0 inside the outer SEQUENCE and fix its (long-form, two-byte) length.
    ASSERT_EQ(der[0], 0x30);
    ASSERT_EQ(der[1], 0x82);
    EXPECT_TRUE(decode_seal(der.data(), der.size()));
    size_t len = (der[2] << 8 | der[3]) + 3;
    der[2] = static_cast<uint8_t>(len >> 8);
    der[3] = static_cast<uint8_t>(len);
    der.insert(der.end(), {0x02, 0x01, 0x00});
    EXPECT_FALSE(decode_seal(der.data(), der.size()));
}

TEST(SealDecoding, EveryTruncationIsRejected) {
    SealSpec spec;
    spec.picture.assign(300, 0x42);  // long-form lengths inside
    Bytes der = testing::encode_seal(spec);
    for (size_t n = 0; n < der.size(); ++n) EXPECT_FALSE(decode_seal(der.data(), n)) << n;
}

TEST(SealDecoding, WrongTagsAreRejected) {
    Bytes der = testing::encode_seal(SealSpec{});
    Bytes outer = der;
    outer[0] = 0x31;  // SET instead of SEQUENCE
    EXPECT_FALSE(decode_seal(outer.data(), outer.size()));
    Bytes inner = der;
    size_t pos = find(inner, {0x16, 0x02, 'E', 'S'});
    ASSERT_NE(pos, std::string::npos);
    inner[pos] = 0x0C;  // UTF8String where IA5String belongs
    EXPECT_FALSE(decode_seal(inner.data(), inner.size()));
    EXPECT_FALSE(decode_seal(nullptr, 0));
    Bytes junk{'n', 'o', 't', ' ', 'a', ' ', 's', 'e', 'a', 'l'};
    EXPECT_FALSE(decode_seal(junk.data(), junk.size()));
}

TEST(SealDecoding, IndefiniteLengthBerIsAccepted) {
    Bytes der = long_form_seal();
    // Re-wrap the outer SEQUENCE with an indefinite length.
    ASSERT_EQ(der[1], 0x82);
    Bytes ber{0x30, 0x80};
    ber.insert(ber.end(), der.begin() + 4, der.end());
    ber.insert(ber.end(), {0x00, 0x00});
    EXPECT_TRUE(decode_seal(ber.data(), ber.size()));
}

TEST(SealDecoding, IntegersBeyond32BitsAreRejected) {
    SealSpec spec;
    spec.version = 0x100000000L;
    Bytes der = testing::encode_seal(spec);
    ASSERT_FALSE(der.empty());
    EXPECT_FALSE(decode_seal(der.data(), der.size()));
}

// The signature is the seal's last element: 03 41 <unused-bit count> and 64 bytes.
TEST(SealDecoding, SignatureUnusedBitCountAboveSevenIsMalformed) {
    Bytes der = testing::encode_seal(SealSpec{});
    const size_t count_at = der.size() - 65;
    ASSERT_EQ(der[count_at - 2], 0x03);
    ASSERT_EQ(der[count_at - 1], 65);
    for (int unused : {0, 1, 7}) {
        der[count_at] = static_cast<uint8_t>(unused);
        SealPtr seal = decode_seal(der.data(), der.size());
        ASSERT_TRUE(seal) << unused;
        EXPECT_EQ(seal->signedMsg.bits_unused, unused);
        EXPECT_EQ(seal->signedMsg.size, 64);
    }
    for (int unused : {8, 9, 31, 32, 200, 255}) {
        der[count_at] = static_cast<uint8_t>(unused);
        EXPECT_FALSE(decode_seal(der.data(), der.size())) << unused;
    }
}

TEST(SealDecoding, SegmentedSignatureIsRefused) {
    Bytes der = long_form_seal();
    // Re-encode the signature as a constructed BIT STRING of one segment: 23 43 03 41 00 ...
    const size_t at = der.size() - 67;
    ASSERT_EQ(der[at], 0x03);
    Bytes seal(der.begin(), der.begin() + static_cast<long>(at));
    seal.insert(seal.end(), {0x23, 67});
    seal.insert(seal.end(), der.begin() + static_cast<long>(at), der.end());
    size_t len = (seal[2] << 8 | seal[3]) + 2;
    seal[2] = static_cast<uint8_t>(len >> 8);
    seal[3] = static_cast<uint8_t>(len);
    EXPECT_FALSE(decode_seal(seal.data(), seal.size()));
}

// An independent parser reads every DER our encoder writes.
TEST(SealEncoding, OpensslAsn1parseAcceptsOurDer) {
    SealSpec spec;
    spec.holder_certs = {Bytes(1500, 0x30), {}, {0x05, 0x00}};
    spec.picture.assign(70000, 0x7F);
    for (bool ext : {true, false}) {
        spec.with_ext_data = ext;
        Bytes der = testing::encode_seal(spec);
        kit::TempFile file;
        ASSERT_TRUE(kit::write_whole_file(file.path(), der.data(), der.size()));
        std::string cmd = "openssl asn1parse -inform DER -in " + file.path() + " >/dev/null 2>&1";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
        cmd = "openssl asn1parse -inform DER -in " + file.path() +
              " 2>/dev/null | grep -c 'GENERALIZEDTIME' | grep -qx 3";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
}

}  // namespace
}  // namespace sealform
