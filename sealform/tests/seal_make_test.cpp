// MakeSeal and ReleaseSealData through the shared library, signing with a real PFX through
// the signer module and checking the result with real SM2 verification.
#include <gtest/gtest.h>

#include <string>

#include "certificatesdk.h"
#include "kit/base64.h"
#include "maker_fixture.h"
#include "seal_codec.h"
#include "sealform_host.h"
#include "testpki.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define KIT_HAVE_ASAN 1
#endif

namespace sealform::testing {
namespace {

class MakeSealTest : public SealformHost {
  protected:
    const MakerMaterial& material = MakerMaterial::shared();
    SealParams params = SealParams::standard(material);

    // The three outputs a verifier gets, read with generous buffers.
    struct ForVerify {
        int rc = -1;
        Bytes info, cert, sign;
    };
    ForVerify for_verify(const Bytes& seal) {
        ForVerify out;
        out.info.resize(20480);
        out.cert.resize(5120);
        out.sign.resize(1024);
        int info_len = 20480, cert_len = 5120, sign_len = 1024;
        out.rc = for_verify_(seal.data(), static_cast<int>(seal.size()), out.info.data(), &info_len,
                             out.cert.data(), &cert_len, out.sign.data(), &sign_len);
        out.info.resize(static_cast<size_t>(info_len));
        out.cert.resize(static_cast<size_t>(cert_len));
        out.sign.resize(static_cast<size_t>(sign_len));
        return out;
    }

    int certsdk_verify(const Bytes& cert, const Bytes& data, const Bytes& sign) {
        kit::Module sdk = kit::Module::load("CertificateSDK.dll");
        auto verify = sdk.function<SKFVerifyData_fn>("SKFVerifyData");
        if (!verify) return -1;
        CERTIFICATESDK_CONTEXT context{0x10001, const_cast<unsigned char*>(cert.data()),
                                       static_cast<uint32_t>(cert.size()), nullptr, nullptr};
        return verify(&context, data.data(), static_cast<int>(data.size()), sign.data(),
                      static_cast<int>(sign.size()));
    }

    std::string element(const std::string& xml, const std::string& name) {
        size_t start = xml.find("<" + name + ">");
        size_t end = xml.find("</" + name + ">");
        if (start == std::string::npos || end == std::string::npos) return "(missing)";
        start += name.size() + 2;
        return xml.substr(start, end - start);
    }
};

TEST_F(MakeSealTest, MadeSealCarriesTheParametersAndAValidSignature) {
    Bytes seal = make(params.xml());
    ASSERT_FALSE(seal.empty()) << markers();

    std::string xml = parse(seal);
    EXPECT_EQ(element(xml, "id"), "ES");
    EXPECT_EQ(element(xml, "version"), "4");
    EXPECT_EQ(element(xml, "vid"), "RZ");
    EXPECT_EQ(element(xml, "type"), "2");
    EXPECT_EQ(element(xml, "name"), kNameUtf8) << "the ANSI name is stored as UTF-8";
    EXPECT_EQ(element(xml, "certlist"),
              "\n\t\t<cert>" + kit::base64_encode(material.holder_certs[0]) + "</cert>\n\t");
    EXPECT_EQ(element(xml, "createdate"), "20210513100248Z");
    EXPECT_EQ(element(xml, "vaildend"), "20310513100248Z");
    EXPECT_EQ(element(xml, "imgtype"), "bmp");
    EXPECT_EQ(element(xml, "imgtdate"), params.values["imgtdate"]);
    EXPECT_EQ(element(xml, "imgwidth"), "40");
    EXPECT_EQ(element(xml, "imgheight"), "20");
    EXPECT_EQ(element(xml, "esid"), "3201000000001");

    // The fixed values: certListType 1, the "aa" extension, the algorithm, the maker's cert.
    SealPtr decoded = decode_seal(seal.data(), seal.size());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->sesSealInfo.property.certListType, 1);
    ASSERT_TRUE(decoded->sesSealInfo.extDatas);
    ASSERT_EQ(decoded->sesSealInfo.extDatas->list.count, 1);
    const ExtData_t* ext = decoded->sesSealInfo.extDatas->list.array[0];
    EXPECT_EQ(Bytes(ext->extnID.buf, ext->extnID.buf + ext->extnID.size), (Bytes{0x61, 0x61}));
    ASSERT_TRUE(ext->critical);
    EXPECT_EQ(*ext->critical, 0);
    EXPECT_EQ(member_bytes(ext->extnValue), (Bytes{'1'}));
    EXPECT_EQ(Bytes(decoded->extnID.buf, decoded->extnID.buf + decoded->extnID.size),
              (Bytes{0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x83, 0x75}));
    EXPECT_EQ(member_bytes(decoded->cert), material.maker_cert);
    EXPECT_EQ(decoded->signedMsg.bits_unused, 0);

    // The signature is over the complete DER of the seal information.
    ForVerify parts = for_verify(seal);
    ASSERT_EQ(parts.rc, 0);
    ASSERT_EQ(parts.sign.size(), 64u);
    EXPECT_EQ(parts.cert, material.maker_cert);
    EXPECT_TRUE(testpki::sm2_verify_raw(material.maker_key.get(), parts.info, parts.sign));
    EXPECT_EQ(certsdk_verify(parts.cert, parts.info, parts.sign), CERTIFICATESDK_VALID);
    Bytes changed = parts.info;
    changed[changed.size() / 2] ^= 0x01;
    EXPECT_EQ(certsdk_verify(parts.cert, changed, parts.sign), CERTIFICATESDK_INVALID);

    EXPECT_EQ(last_marker("MakeSeal..."), "MakeSeal...2");
    EXPECT_TRUE(leftovers().empty()) << "temporary files left behind";
}

TEST_F(MakeSealTest, OnlyTheFirstOfSeveralHolderCertificatesIsUsed) {
    params.certs.clear();
    for (const Bytes& c : material.holder_certs) params.certs.push_back(kit::base64_encode(c));
    Bytes seal = make(params.xml());
    ASSERT_FALSE(seal.empty()) << markers();
    SealPtr decoded = decode_seal(seal.data(), seal.size());
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->sesSealInfo.property.certList.list.count, 1);
    EXPECT_EQ(member_bytes(*decoded->sesSealInfo.property.certList.list.array[0]),
              material.holder_certs[0]);
}

TEST_F(MakeSealTest, MissingElementsReadAsZeroAndEmpty) {
    params.omit = {"id", "version", "type", "imgwidth", "imgheight"};
    params.values["vid"] = "  -12abc";  // atoi rules: blanks, sign, digits, then anything
    Bytes seal = make(params.xml());
    ASSERT_FALSE(seal.empty()) << markers();
    SealPtr decoded = decode_seal(seal.data(), seal.size());
    ASSERT_TRUE(decoded);
    const SESSealInfo_t& info = decoded->sesSealInfo;
    EXPECT_EQ(member_text(info.header.esID), "");
    EXPECT_EQ(info.header.version, 0);
    EXPECT_EQ(info.property.type, 0);
    EXPECT_EQ(info.picture.width, 0);
    EXPECT_EQ(info.picture.height, 0);

    params.omit.clear();
    params.values["version"] = "  -12abc";
    params.values["imgwidth"] = "x40";
    params.values["imgheight"] = "99999999999";
    seal = make(params.xml());
    ASSERT_FALSE(seal.empty()) << markers();
    decoded = decode_seal(seal.data(), seal.size());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->sesSealInfo.header.version, -12);
    EXPECT_EQ(decoded->sesSealInfo.picture.width, 0);
    EXPECT_EQ(decoded->sesSealInfo.picture.height, 2147483647) << "held in 32 bits";
}

TEST_F(MakeSealTest, SecondMakeSealFreesTheFirstResult) {
    int length = 0;
    unsigned char* first = make_(params.xml().c_str(), &length);
    ASSERT_NE(first, nullptr) << markers();
    clear_traces();
    params.values["esid"] = "3201000000002";
    unsigned char* second = make_(params.xml().c_str(), &length);
    ASSERT_NE(second, nullptr) << markers();
    std::string m = markers();
    EXPECT_EQ(m.rfind("MakeSeal...1\nReleaseSealData...1\nReleaseSealData...2\n", 0), 0u) << m;
#ifdef KIT_HAVE_ASAN
    EXPECT_TRUE(__asan_address_is_poisoned(first)) << "the first seal was not freed";
#endif
    Bytes seal(second, second + length);
    EXPECT_EQ(element(parse(seal), "esid"), "3201000000002");
    release_();
#ifdef KIT_HAVE_ASAN
    EXPECT_TRUE(__asan_address_is_poisoned(second));
#endif
    release_();  // nothing left: does nothing
    EXPECT_NE(markers().find("ReleaseSealData...2\nReleaseSealData...1\nReleaseSealData...2"),
              std::string::npos);
}

TEST_F(MakeSealTest, WrongPasswordEndsAtE4WithoutTracingThePassword) {
    const std::string secret = "Wrong-Pass#4417";
    params.values["sealmakerpfxpwd"] = secret;
    EXPECT_TRUE(make(params.xml()).empty());
    EXPECT_EQ(last_marker("MakeSeal..."), "MakeSeal...e.4");
    EXPECT_EQ(markers().find(secret), std::string::npos);
    EXPECT_EQ(rzlog().find(secret), std::string::npos);
    EXPECT_EQ(markers().find(material.password), std::string::npos);
    EXPECT_TRUE(leftovers().empty()) << "the PFX copy was left behind";
}

TEST_F(MakeSealTest, FailuresTraceNeitherPasswordNorPfxAndLeaveNoFiles) {
    const std::string pfx_b64 = params.values["sealmakerpfx"];
    struct Case {
        const char* what;
        std::string xml;
        const char* label;
    };
    SealParams no_cert = params;
    no_cert.certs.clear();
    SealParams bad_date = params;
    bad_date.values["vaildstart"] = "2021-05-13";
    SealParams not_pfx = params;
    not_pfx.values["sealmakerpfx"] = kit::base64_encode(bmp_picture(4, 4));
    std::string wrong_root = params.xml();
    wrong_root.replace(wrong_root.find("<sealparams>"), 12, "<sealparam>");
    wrong_root.replace(wrong_root.find("</sealparams>"), 13, "</sealparam>");
    const Case cases[] = {
        {"parse error", params.xml().substr(0, params.xml().size() - 5), "MakeSeal...e.2"},
        {"wrong root", wrong_root, "MakeSeal...e.3"},
        {"no holder certificate", no_cert.xml(), "MakeSeal...e.3.1"},
        {"not a PFX", not_pfx.xml(), "MakeSeal...e.4"},
        {"date that is not a GeneralizedTime", bad_date.xml(), "MakeSeal...e.6.1"},
    };
    for (const Case& c : cases) {
        clear_traces();
        EXPECT_TRUE(make(c.xml).empty()) << c.what;
        EXPECT_EQ(last_marker("MakeSeal..."), c.label) << c.what;
        std::string traces = markers() + rzlog();
        EXPECT_EQ(traces.find(material.password), std::string::npos) << c.what;
        EXPECT_EQ(traces.find(pfx_b64.substr(0, 40)), std::string::npos) << c.what;
        EXPECT_TRUE(leftovers().empty()) << c.what;
    }
    // A bad date fails before the signer is asked to sign anything.
    clear_traces();
    make(bad_date.xml());
    EXPECT_EQ(markers().find("MakeSeal...1.6"), std::string::npos);

    clear_traces();
    int length = 5;
    EXPECT_EQ(make_(nullptr, &length), nullptr);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(last_marker("MakeSeal..."), "MakeSeal...e.1");
}

TEST_F(MakeSealTest, NonSm2MakerKeyIsRefusedBySigner) {
    params.values["sealmakerpfx"] = kit::base64_encode(rsa_pfx(material.password));
    EXPECT_TRUE(make(params.xml()).empty());
    EXPECT_EQ(last_marker("MakeSeal..."), "MakeSeal...e.7:6");
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(MakeSealTest, FixedLimitsAreEnforced) {
    // Name: at most 1023 bytes after conversion to UTF-8 (GBK 2 bytes -> UTF-8 3 bytes).
    std::string name_1023, name_1026;
    for (int i = 0; i < 341; ++i) name_1023 += "\xD3\xA1";  // U+5370, 3 bytes in UTF-8
    name_1026 = name_1023 + "\xD3\xA1";
    params.values["name"] = name_1023;
    Bytes seal = make(params.xml());
    ASSERT_FALSE(seal.empty()) << markers();
    SealPtr decoded = decode_seal(seal.data(), seal.size());
    EXPECT_EQ(decoded->sesSealInfo.property.name.size, 1023);
    params.values["name"] = name_1026;
    EXPECT_TRUE(make(params.xml()).empty());
    EXPECT_EQ(last_marker("MakeSeal..."), "MakeSeal...e.3.2");

    // Holder certificate: at most 2048 bytes once decoded.
    params = SealParams::standard(material);
    params.certs = {kit::base64_encode(Bytes(2048, 0x30))};
    EXPECT_FALSE(make(params.xml()).empty()) << markers();
    params.certs = {kit::base64_encode(Bytes(2049, 0x30))};
    EXPECT_TRUE(make(params.xml()).empty());
    EXPECT_EQ(last_marker("MakeSeal..."), "MakeSeal...e.3.2");
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(MakeSealTest, MakerCertificateOverTheLimitIsRefused) {
    // A maker certificate of more than 2048 bytes (a large extension) in the PFX.
    testpki::Pkey key = testpki::make_sm2_key();
    testpki::Cert cert = testpki::make_certificate(key.get(), testpki::CertSpec{});
    ASN1_OCTET_STRING* blob = ASN1_OCTET_STRING_new();
    std::string filler(2200, 'x');
    ASN1_OCTET_STRING_set(blob, reinterpret_cast<const unsigned char*>(filler.data()),
                          static_cast<int>(filler.size()));
    ASN1_OBJECT* oid = OBJ_txt2obj("1.2.3.4.5.6.7", 1);
    X509_EXTENSION* ext = X509_EXTENSION_create_by_OBJ(nullptr, oid, 0, blob);
    X509_add_ext(cert.get(), ext, -1);
    X509_EXTENSION_free(ext);
    ASN1_OBJECT_free(oid);
    ASN1_OCTET_STRING_free(blob);
    ASSERT_GT(testpki::cert_der(cert.get()).size(), 2048u);
    params.values["sealmakerpfx"] =
        kit::base64_encode(testpki::make_pfx(key.get(), cert.get(), material.password));
    EXPECT_TRUE(make(params.xml()).empty());
    EXPECT_EQ(last_marker("MakeSeal..."), "MakeSeal...e.5");
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(MakeSealTest, PfxBase64MayBeWrappedInLines) {
    std::string wrapped, b64 = params.values["sealmakerpfx"];
    for (size_t i = 0; i < b64.size(); i += 64) wrapped += b64.substr(i, 64) + "\r\n";
    params.values["sealmakerpfx"] = wrapped;
    EXPECT_FALSE(make(params.xml()).empty()) << markers();
}

}  // namespace
}  // namespace sealform::testing
