#include "maker_document.h"

#include <algorithm>
#include <pugixml.hpp>
#include <stdexcept>

#include "kit/base64.h"
#include "kit/platform.h"
#include "securemodelcollection.h"
#include "testpki.h"

extern "C" int SymmetryEncryption_File(const char*, const char*, int, const char*, int);

namespace securemodel {
namespace {

constexpr const char kKeyText[] = "m4k8p2x6r9t3vb!#";

std::string hex(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

struct Writer : pugi::xml_writer {
    std::string text;
    void write(const void* d, size_t n) override { text.append(static_cast<const char*>(d), n); }
};

}  // namespace

std::string maker_document_xml(EVP_PKEY* key, const std::vector<uint8_t>& cert_der) {
    testpki::Bytes scalar = testpki::sm2_private_scalar(key);
    testpki::Bytes point = testpki::sm2_public_point(key);
    if (scalar.size() != 32 || point.size() != 65) throw std::runtime_error("not an SM2 key");
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("sealmakercert");
    root.append_child("cer").text().set(kit::base64_encode(cert_der).c_str());
    root.append_child("moldlen").text().set("256");
    root.append_child("privatekey").text().set(hex(scalar.data(), 32).c_str());
    root.append_child("x").text().set(hex(point.data() + 1, 32).c_str());
    root.append_child("y").text().set(hex(point.data() + 33, 32).c_str());
    Writer w;
    doc.save(w, "\t", pugi::format_indent | pugi::format_no_declaration);
    return w.text;
}

std::string encrypted_maker_document(EVP_PKEY* key, const std::vector<uint8_t>& cert_der) {
    return encrypted_document(maker_document_xml(key, cert_der));
}

std::string encrypted_document(const std::string& text) {
    std::string plain = text;
    kit::TempFile in, out;
    bool written = in && out && kit::write_whole_file(in.path(), plain.data(), plain.size());
    std::fill(plain.begin(), plain.end(), '\0');
    if (!written) throw std::runtime_error("cannot write a temporary file");
    int rc = SymmetryEncryption_File(in.path().c_str(), out.path().c_str(), SECUREMODEL_SM4_CBC,
                                     kKeyText, 0);
    in.remove();
    std::vector<uint8_t> sealed;
    if (rc != 0 || !kit::read_whole_file(out.path(), sealed))
        throw std::runtime_error("the maker document cannot be encrypted (" + std::to_string(rc) +
                                 ")");
    return kit::base64_encode(sealed);
}

SealInfoDocument SealInfoDocument::standard(EVP_PKEY* maker_key,
                                            const std::vector<uint8_t>& maker_cert,
                                            const std::vector<uint8_t>& picture_bmp,
                                            const std::vector<uint8_t>& holder_cert) {
    SealInfoDocument d;
    d.values = {{"imgdata", kit::base64_encode(picture_bmp)},
                {"esid", "3201000000001"},
                {"version", "4"},
                {"sealtype", "2"},
                {"sealname", "\xB2\xE2\xCA\xD4\xD3\xA1\xD5\xC2"},
                {"createdate", "20210513100248Z"},
                {"validstart", "20210513100248Z"},
                {"validend", "20310513100248Z"},
                {"imgtype", "bmp"},
                {"sealmakercert", encrypted_maker_document(maker_key, maker_cert)}};
    d.certs = {kit::base64_encode(holder_cert)};
    return d;
}

std::string SealInfoDocument::xml() const {
    static const char* const kOrder[] = {"imgdata",  "usercertlist", "esid",         "version",
                                         "sealtype", "sealname",     "createdate",   "validstart",
                                         "validend", "imgtype",      "sealmakercert"};
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("sealinfo");
    for (const char* name : kOrder) {
        if (std::find(omit.begin(), omit.end(), name) != omit.end()) continue;
        pugi::xml_node n = root.append_child(name);
        if (std::string(name) == "usercertlist") {
            for (const std::string& c : certs) n.append_child("usercert").text().set(c.c_str());
            continue;
        }
        auto v = values.find(name);
        if (v != values.end()) n.text().set(v->second.c_str());
    }
    Writer w;
    doc.save(w, "", pugi::format_raw | pugi::format_no_declaration);
    return w.text;
}

}  // namespace securemodel
