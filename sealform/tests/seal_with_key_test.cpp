// MakeSeal_SignWithKey and ParsingSeal_SignWithKey through the shared library: maker key
// material encrypted by the real file cipher, signatures computed by the software key's driver
// and checked with real SM2 verification.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <pugixml.hpp>
#include <sstream>
#include <string>

#include "kit/base64.h"
#include "maker_document.h"
#include "maker_fixture.h"
#include "seal_codec.h"
#include "sealform_host.h"
#include "softkey_factory.h"
#include "testpki.h"

namespace sealform::testing {
namespace {

using ParseKeyFn = int (*)(const unsigned char*, int, char*, int*);

using KeySealParams = securemodel::SealInfoDocument;

class SealWithKeyTest : public SealformHost {
  protected:
    void SetUp() override {
        SealformHost::SetUp();
        store_ = scratch_ + "/store";
        ::setenv("SOFTKEY_STORE", store_.c_str(), 1);
        ::unsetenv("SOFTKEY_SERIAL");
        softkey::Store(store_).create(softkey::make_key(softkey::sm2_key("MAKER-0001", 0)));
        make_key_ = module_.function<MakeFn>("MakeSeal_SignWithKey");
        parse_key_ = module_.function<ParseKeyFn>("ParsingSeal_SignWithKey");
        ASSERT_TRUE(make_key_ && parse_key_);
        params_ = KeySealParams::standard(material_.maker_key.get(), material_.maker_cert,
                                          bmp_picture(200, 100), material_.holder_certs[0]);
        params_.values["esid"] = "3201000000777";
        params_.certs.push_back(kit::base64_encode(material_.holder_certs[1]));
        clear_traces();
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(store_, ec);
        ::unsetenv("SOFTKEY_STORE");
        SealformHost::TearDown();
    }

    Bytes make_key(const std::string& xml) {
        int length = -7;
        unsigned char* seal = make_key_(xml.c_str(), &length);
        if (!seal) {
            EXPECT_EQ(length, -7) << "a failed call changed the length";
            return {};
        }
        return Bytes(seal, seal + length);
    }
    std::string parse_key(const Bytes& seal) {
        int length = 0;
        EXPECT_EQ(parse_key_(seal.data(), static_cast<int>(seal.size()), nullptr, &length), 0);
        std::string text(static_cast<size_t>(length), '\0');
        int capacity = length;
        EXPECT_EQ(parse_key_(seal.data(), static_cast<int>(seal.size()), text.data(), &capacity),
                  0);
        EXPECT_EQ(capacity, length);
        return text;
    }

    const MakerMaterial& material_ = MakerMaterial::shared();
    std::string store_;
    KeySealParams params_;
    MakeFn make_key_ = nullptr;
    ParseKeyFn parse_key_ = nullptr;
};

TEST_F(SealWithKeyTest, MakesASealTheMakerSignedAndParsesItBack) {
    params_.values["imgdata"] = kit::base64_encode(bmp_picture(200, 100));
    Bytes seal = make_key(params_.xml());
    ASSERT_FALSE(seal.empty()) << markers();
    EXPECT_TRUE(leftovers().empty()) << "temporary files left behind";

    pugi::xml_document doc;
    std::string xml = parse_key(seal);
    ASSERT_TRUE(doc.load_string(xml.c_str())) << xml;
    pugi::xml_node root = doc.child("sealinfo");
    std::vector<std::string> names;
    for (pugi::xml_node c = root.first_child(); c; c = c.next_sibling()) names.push_back(c.name());
    EXPECT_EQ(names, (std::vector<std::string>{"id", "version", "vid", "sealtype", "sealname",
                                               "usercertlist", "createdate", "validstart",
                                               "validend", "imgtype", "imgdata", "imgwidth",
                                               "imgheight", "esid", "signdata", "sealmakercer"}));
    EXPECT_STREQ(root.child_value("id"), "ES");
    EXPECT_STREQ(root.child_value("vid"), "RZ");
    EXPECT_STREQ(root.child_value("version"), "4");
    EXPECT_STREQ(root.child_value("sealtype"), "2");
    EXPECT_STREQ(root.child_value("sealname"), kNameGbk);
    EXPECT_STREQ(root.child_value("esid"), "3201000000777");
    EXPECT_STREQ(root.child_value("validend"), "20310513100248Z");
    EXPECT_STREQ(root.child_value("imgtype"), "bmp");
    // 200 x 100 pixels at 96 dpi: 52.9 x 26.4 mm, cut toward zero.
    EXPECT_STREQ(root.child_value("imgwidth"), "52");
    EXPECT_STREQ(root.child_value("imgheight"), "26");
    EXPECT_EQ(root.child_value("imgdata"), params_.values["imgdata"]);
    // Only the first holder certificate goes into the seal.
    pugi::xml_node certs = root.child("usercertlist");
    EXPECT_EQ(std::distance(certs.children("usercert").begin(), certs.children("usercert").end()),
              1);
    EXPECT_EQ(certs.child_value("usercert"), params_.certs[0]);
    EXPECT_EQ(root.child_value("sealmakercer"), kit::base64_encode(material_.maker_cert));
    std::string signdata = root.child_value("signdata");
    EXPECT_EQ(signdata.size(), 88u);

    // The signature is the maker's over the seal information exactly as stored: the seal's first
    // element, cut out of its bytes by OpenSSL.
    const Bytes info = testpki::der_first_element(seal);
    ASSERT_GT(info.size(), 1000u);
    testpki::Cert cert = testpki::cert_from_der(material_.maker_cert);
    testpki::Pkey pub(X509_get_pubkey(cert.get()));
    EXPECT_TRUE(testpki::sm2_verify_raw(pub.get(), info, kit::base64_decode(signdata)));
    // The self-check through the certificate SDK agreed, and only the trace tells.
    EXPECT_NE(rzlog().find("MakeSeal_SignWithKey...1.6.3.1::0"), std::string::npos) << rzlog();
    EXPECT_NE(rzlog().find("MakeSeal...2::MakeSeal_SignWithKey::" + std::to_string(seal.size())),
              std::string::npos);
}

TEST_F(SealWithKeyTest, HeaderIdentifiersAreFixedAndTheKeyMaterialNeverTraced) {
    params_.values["id"] = "XX";
    Bytes seal = make_key(params_.xml());
    ASSERT_FALSE(seal.empty());
    SealPtr decoded = decode_seal(seal.data(), seal.size());
    EXPECT_EQ(member_text(decoded->sesSealInfo.header.esID), "ES");
    EXPECT_EQ(member_text(decoded->sesSealInfo.header.vid), "RZ");
    std::string doc =
        securemodel::maker_document_xml(material_.maker_key.get(), material_.maker_cert);
    pugi::xml_document maker;
    ASSERT_TRUE(maker.load_string(doc.c_str()));
    std::string key = maker.child("sealmakercert").child_value("privatekey");
    ASSERT_EQ(key.size(), 64u);
    std::string traces = markers() + rzlog();
    EXPECT_EQ(traces.find(key), std::string::npos);
    EXPECT_EQ(traces.find(params_.values["sealmakercert"].substr(0, 40)), std::string::npos);
}

TEST_F(SealWithKeyTest, RefusalsNameTheirStepAndLeaveNoFiles) {
    struct Case {
        const char* what;
        std::function<void(KeySealParams&)> change;
        const char* marker;  // expected in the debugger output, or empty
        const char* trace;   // expected in the trace library's output, or empty
    };
    const std::vector<Case> cases = {
        {"no validend", [](KeySealParams& p) { p.omit = {"validend"}; }, "MakeSeal...e.3.1", ""},
        {"no usercert", [](KeySealParams& p) { p.certs.clear(); }, "MakeSeal...e.3.1", ""},
        {"no imgdata", [](KeySealParams& p) { p.omit = {"imgdata"}; }, "MakeSeal...e.3.1", ""},
        {"not a picture", [](KeySealParams& p) { p.values["imgdata"] = "AAECAwQF"; },
         "MakeSeal...1.1/.1", ""},
        {"no maker document", [](KeySealParams& p) { p.omit = {"sealmakercert"}; }, "",
         "MakeSeal_SignWithKey...1.6"},
        {"maker document of another key",
         [](KeySealParams& p) {
             std::string b = p.values["sealmakercert"];
             Bytes raw = kit::base64_decode(b);
             raw[30] ^= 0x40;
             p.values["sealmakercert"] = kit::base64_encode(raw);
         },
         "", "decryptFile-----------1.5::4"},
        {"holder certificate too long",
         [](KeySealParams& p) { p.certs = {kit::base64_encode(Bytes(2049, 0x30))}; },
         "MakeSeal...e.3.2", ""},
    };
    for (const Case& c : cases) {
        KeySealParams p = params_;
        c.change(p);
        clear_traces();
        EXPECT_TRUE(make_key(p.xml()).empty()) << c.what;
        if (*c.marker) {
            EXPECT_NE(markers().find(c.marker), std::string::npos) << c.what;
        }
        if (*c.trace) {
            EXPECT_NE(rzlog().find(c.trace), std::string::npos) << c.what << rzlog();
        }
        EXPECT_TRUE(leftovers().empty()) << c.what;
    }
    clear_traces();
    EXPECT_TRUE(make_key("<sealparams/>").empty());
    EXPECT_NE(markers().find("MakeSeal...e.3"), std::string::npos);
    EXPECT_TRUE(make_key("<sealinfo>").empty());
    EXPECT_NE(markers().find("MakeSeal...e.2"), std::string::npos);
}

TEST_F(SealWithKeyTest, NoKeyToOpenFailsWithCodeThreeAndRemovesTheMakerDocument) {
    softkey::Store(store_).update("MAKER-0001", [](softkey::KeyRecord& k) { k.present = false; });
    EXPECT_TRUE(make_key(params_.xml()).empty());
    EXPECT_NE(rzlog().find("MakeSeal_SignWithKey...1.6.1.1::3"), std::string::npos) << rzlog();
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(SealWithKeyTest, MakerDocumentsOfTheWrongShape) {
    std::string doc =
        securemodel::maker_document_xml(material_.maker_key.get(), material_.maker_cert);
    struct Case {
        std::string plain;
        const char* marker;
        const char* trace;
    };
    std::string bad_key = doc;
    size_t at = bad_key.find("<privatekey>") + 12;
    bad_key.replace(at, 64, std::string(64, '0'));  // zero is no private key
    const std::vector<Case> cases = {
        {"<sealmakercert><cer>", "MakeSeal...e.21::%s", ""},
        {"<makercert/>", "MakeSeal...e.31", ""},
        {bad_key, "", "MakeSeal_SignWithKey...1.6.1.1::4"},
    };
    for (const Case& c : cases) {
        clear_traces();
        KeySealParams p = params_;
        p.values["sealmakercert"] = securemodel::encrypted_document(c.plain);
        EXPECT_TRUE(make_key(p.xml()).empty()) << c.plain;
        if (*c.marker) {
            EXPECT_NE(markers().find(c.marker), std::string::npos) << markers();
        }
        if (*c.trace) {
            EXPECT_NE(rzlog().find(c.trace), std::string::npos) << rzlog();
        }
        EXPECT_TRUE(leftovers().empty()) << "the decrypted maker document was left behind";
    }
}

TEST_F(SealWithKeyTest, ParsingTellsLengthsAndKeepsToTheCapacity) {
    Bytes seal = make_key(params_.xml());
    ASSERT_FALSE(seal.empty());
    std::string full = parse_key(seal);
    int length = -1;
    EXPECT_EQ(parse_key_(seal.data(), static_cast<int>(seal.size()), nullptr, &length), 0);
    EXPECT_EQ(static_cast<size_t>(length), full.size());

    std::string small(100, '#');
    int capacity = 99;
    EXPECT_EQ(parse_key_(seal.data(), static_cast<int>(seal.size()), small.data(), &capacity),
              SEALFORM_BUFFER_TOO_SMALL);
    EXPECT_EQ(small, std::string(100, '#'));
    EXPECT_EQ(static_cast<size_t>(capacity), full.size());

    Bytes junk = {0x30, 0x03, 0x02, 0x01, 0x01};
    length = 5;
    EXPECT_EQ(parse_key_(junk.data(), 5, nullptr, &length), SEALFORM_NOT_A_SEAL);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(parse_key_(nullptr, 0, nullptr, &length), SEALFORM_NOT_A_SEAL);
}

}  // namespace
}  // namespace sealform::testing
