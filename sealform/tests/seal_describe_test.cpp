// The seal descriptions are written straight as text. They must stay byte for byte what the
// library wrote when it built a pugixml document and printed it: each case here builds that
// document the earlier way and compares.
#include "seal_describe.h"

#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <string>

#include "kit/base64.h"
#include "kit/platform.h"
#include "seal_fixture.h"
#include "xml_text.h"

namespace sealform {
namespace {

using testing::SealSpec;
using Bytes = std::vector<uint8_t>;

std::string text_of(const OCTET_STRING_t& s) { return member_text(s); }

std::string printed(const pugi::xml_node& node) {
    struct Writer : pugi::xml_writer {
        std::string text;
        void write(const void* data, size_t size) override {
            text.append(static_cast<const char*>(data), size);
        }
    } writer;
    node.print(writer, "\t", pugi::format_indent, pugi::encoding_utf8);
    return writer.text;
}

// The description as the library made it with pugixml.
std::string reference(const SESeal_t& seal, bool with_key) {
    const SESSealInfo_t& info = seal.sesSealInfo;
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child(with_key ? "sealinfo" : "sealinfos");
    auto set = [&](const char* name, const std::string& text) {
        root.append_child(name).text().set(text.c_str());
    };
    auto b64 = [](const uint8_t* p, int n) { return kit::base64_encode(p, p ? n : 0); };
    set("id", text_of(info.header.esID));
    set("version", decimal(info.header.version));
    set("vid", text_of(info.header.vid));
    set(with_key ? "sealtype" : "type", decimal(info.property.type));
    std::string name = text_of(info.property.name);
    if (with_key) name = kit::from_utf16(kit::to_utf16(kit::from_utf8(name, 936), 936));
    set(with_key ? "sealname" : "name", name);
    pugi::xml_node list = root.append_child(with_key ? "usercertlist" : "certlist");
    for (int i = 0; i < info.property.certList.list.count; ++i) {
        const Cert_t* c = info.property.certList.list.array[i];
        list.append_child(with_key ? "usercert" : "cert").text().set(b64(c->buf, c->size).c_str());
    }
    set("createdate", text_of(info.property.createDate));
    set(with_key ? "validstart" : "vaildstart", text_of(info.property.validStart));
    set(with_key ? "validend" : "vaildend", text_of(info.property.validEnd));
    set("imgtype", text_of(info.picture.type));
    set(with_key ? "imgdata" : "imgtdate", b64(info.picture.data.buf, info.picture.data.size));
    set("imgwidth", decimal(info.picture.width));
    set("imgheight", decimal(info.picture.height));
    set("esid", text_of(info.esID));
    if (with_key) {
        set("signdata", b64(seal.signedMsg.buf, seal.signedMsg.size));
        set("sealmakercer", b64(seal.cert.buf, seal.cert.size));
    }
    return printed(root);
}

TEST(SealDescription, IsByteForByteThePrintedDocument) {
    std::vector<SealSpec> specs(6);
    specs[1].holder_certs = {Bytes(700, 0x30), Bytes{1, 2, 3, 4}};
    specs[2].name = "a&b<c>d\"e'f\tg\nh\ri\x01j\x1Fk\x7F";  // escapes and control characters
    specs[2].seal_id = "code\x02with\x1B controls";
    specs[2].picture_type = "";
    specs[3].header_id = "";
    specs[3].vid = std::string("R\0Z", 3);  // text ends at a zero byte
    specs[3].picture = {};
    specs[3].signature = {};
    specs[4].version = -2147483647L - 1;
    specs[4].type = 2147483647L;
    specs[4].width = -1;
    specs[4].picture = Bytes(50 * 1024 + 1, 0xA7);
    specs[5].name = "\xE5\xBC\xA0\xE4\xB8\x89 \xE5\x85\xAC\xE7\xAB\xA0";  // Chinese in UTF-8
    specs[5].maker_cert = Bytes(2, 0x30);
    for (size_t i = 0; i < specs.size(); ++i) {
        SCOPED_TRACE(i);
        SealPtr seal = testing::build_seal(specs[i]);
        ASSERT_TRUE(seal);
        EXPECT_EQ(describe_seal(*seal, SealView::kSealinfos), reference(*seal, false));
        EXPECT_EQ(describe_seal(*seal, SealView::kSealinfo), reference(*seal, true));
    }
}

TEST(XmlTextWriter, EscapesTextAsPugixmlPrintsIt) {
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    XmlTextWriter writer;
    writer.open("r", 0);
    writer.leaf("t", all, 1);
    writer.leaf("e", "", 1);
    writer.empty("n", 1);
    writer.close("r", 0);

    pugi::xml_document doc;
    pugi::xml_node r = doc.append_child("r");
    r.append_child("t").text().set(all.c_str());
    r.append_child("e").text().set("");
    r.append_child("n");
    EXPECT_EQ(writer.text(), printed(r));
}

}  // namespace
}  // namespace sealform
