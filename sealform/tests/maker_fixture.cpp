#include "maker_fixture.h"

#include <algorithm>
#include <pugixml.hpp>

#include "kit/base64.h"

namespace sealform::testing {

// "测试印章" (test seal).
const char kNameGbk[] = "\xB2\xE2\xCA\xD4\xD3\xA1\xD5\xC2";
const char kNameUtf8[] = "\xE6\xB5\x8B\xE8\xAF\x95\xE5\x8D\xB0\xE7\xAB\xA0";

const MakerMaterial& MakerMaterial::shared() {
    static const MakerMaterial material = [] {
        MakerMaterial m;
        m.maker_key = testpki::make_sm2_key();
        testpki::CertSpec spec;
        spec.common_name = "Seal Maker";
        spec.signing_only = true;
        testpki::Cert cert = testpki::make_certificate(m.maker_key.get(), spec);
        m.maker_cert = testpki::cert_der(cert.get());
        m.pfx = testpki::make_pfx(m.maker_key.get(), cert.get(), m.password);
        for (long i = 0; i < 3; ++i) {
            testpki::Pkey key = testpki::make_sm2_key();
            testpki::CertSpec holder;
            holder.common_name = "Holder " + std::to_string(i + 1);
            holder.serial = 100 + i;
            m.holder_certs.push_back(
                testpki::cert_der(testpki::make_certificate(key.get(), holder).get()));
        }
        return m;
    }();
    return material;
}

Bytes rsa_pfx(const std::string& password) {
    testpki::Pkey key = testpki::make_rsa_key(2048);
    testpki::Cert cert = testpki::make_certificate(key.get(), testpki::CertSpec{});
    return testpki::make_pfx(key.get(), cert.get(), password);
}

SealParams SealParams::standard(const MakerMaterial& material) {
    SealParams p;
    p.values = {
        {"id", "ES"},
        {"version", "4"},
        {"vid", "RZ"},
        {"type", "2"},
        {"name", kNameGbk},
        {"createdate", "20210513100248"},
        {"vaildstart", "20210513100248"},
        {"vaildend", "20310513100248"},
        {"imgtype", "bmp"},
        {"imgtdate", kit::base64_encode(bmp_picture(40, 20))},
        {"imgwidth", "40"},
        {"imgheight", "20"},
        {"sealmakerpfx", kit::base64_encode(material.pfx)},
        {"sealmakerpfxpwd", material.password},
        {"esid", "3201000000001"},
    };
    p.certs = {kit::base64_encode(material.holder_certs[0])};
    return p;
}

std::string SealParams::xml() const {
    static const char* const kOrder[] = {
        "id",       "version",    "vid",        "type",         "name",
        "certlist", "createdate", "vaildstart", "vaildend",     "imgtype",
        "imgtdate", "imgwidth",   "imgheight",  "sealmakerpfx", "sealmakerpfxpwd",
        "esid"};
    auto omitted = [&](const std::string& name) {
        return std::find(omit.begin(), omit.end(), name) != omit.end();
    };
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("sealparams");
    for (const char* name : kOrder) {
        if (omitted(name)) continue;
        pugi::xml_node node = root.append_child(name);
        if (std::string(name) == "certlist") {
            for (const std::string& c : certs) node.append_child("cert").text().set(c.c_str());
            continue;
        }
        auto v = values.find(name);
        if (v != values.end()) node.text().set(v->second.c_str());
    }
    struct Writer : pugi::xml_writer {
        std::string text;
        void write(const void* data, size_t size) override {
            text.append(static_cast<const char*>(data), size);
        }
    } writer;
    doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return writer.text;
}

Bytes bmp_picture(int width, int height) { return testpki::bmp_picture(width, height); }

}  // namespace sealform::testing
