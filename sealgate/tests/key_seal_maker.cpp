#include "key_seal_maker.h"

#include <pugixml.hpp>
#include <sstream>

#include "kit/base64.h"
#include "kit/platform.h"
#include "maker_document.h"
#include "testpki.h"

namespace sgtest {

// A one-bit BMP (two-colour palette): small enough that a 200 x 100 picture leaves room in the
// 20480-byte seal description.
std::vector<uint8_t> bmp_picture(int width, int height, size_t padding) {
    const uint32_t row = static_cast<uint32_t>(((width + 31) / 32) * 4);
    const uint32_t pixels = row * static_cast<uint32_t>(height);
    const uint32_t offset = 14 + 40 + 8;
    std::vector<uint8_t> out(offset + pixels + padding, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, static_cast<uint32_t>(out.size()));
    put32(10, offset);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    out[26] = 1;  // planes
    out[28] = 1;  // bits per pixel
    put32(34, pixels);
    put32(46, 2);           // colours used
    put32(58, 0x00FFFFFF);  // palette: black, white
    for (size_t i = 0; i < pixels; ++i) out[offset + i] = static_cast<uint8_t>(0x55 << (i % 2));
    for (size_t i = 0; i < padding; ++i) out[offset + pixels + i] = static_cast<uint8_t>(i * 31);
    return out;
}

MadeSeal make_key_seal(const softkey::KeyRecord& maker_key, const SealOrder& order) {
    MadeSeal made;
    testpki::Pkey holder_key = testpki::make_sm2_key();
    testpki::CertSpec cs;
    cs.common_name = order.holder_cn;
    made.holder_cert = testpki::cert_der(testpki::make_certificate(holder_key.get(), cs).get());
    made.picture = bmp_picture(order.picture_width, order.picture_height, order.picture_padding);
    if (order.picture_cut && order.picture_cut < made.picture.size())
        made.picture.resize(order.picture_cut);

    testpki::Pkey maker = testpki::private_key_from_der(maker_key.sign_key);
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("sealinfo");
    root.append_child("imgdata").text().set(kit::base64_encode(made.picture).c_str());
    root.append_child("usercertlist")
        .append_child("usercert")
        .text()
        .set(kit::base64_encode(made.holder_cert).c_str());
    root.append_child("esid").text().set(order.esid.c_str());
    root.append_child("version").text().set(order.version.c_str());
    root.append_child("sealtype").text().set(order.type.c_str());
    root.append_child("sealname").text().set(order.name_gbk.c_str());
    root.append_child("createdate").text().set(order.valid_start.c_str());
    root.append_child("validstart").text().set(order.valid_start.c_str());
    root.append_child("validend").text().set(order.valid_end.c_str());
    root.append_child("imgtype").text().set("bmp");
    root.append_child("sealmakercert")
        .text()
        .set(securemodel::encrypted_maker_document(maker.get(), maker_key.sign_cert).c_str());
    std::ostringstream xml;
    doc.save(xml, "", pugi::format_raw | pugi::format_no_declaration);

    kit::Module sealform = kit::Module::load("Sealform.dll");
    using MakeFn = unsigned char* (*)(const char*, int*);
    using ReleaseFn = void (*)();
    auto make = sealform.function<MakeFn>("MakeSeal_SignWithKey");
    auto release = sealform.function<ReleaseFn>("ReleaseSealData");
    if (!make || !release) {
        made.error = "Sealform's maker not found";
        return made;
    }
    int length = 0;
    unsigned char* der = make(xml.str().c_str(), &length);
    if (!der) {
        made.error = "MakeSeal_SignWithKey refused the seal";
        return made;
    }
    made.der.assign(der, der + length);
    release();
    return made;
}

void store_seal(const std::filesystem::path& store, const std::string& serial,
                const std::vector<uint8_t>& der) {
    softkey::Store(store).update(serial, [&](softkey::KeyRecord& k) { k.seals.push_back(der); });
}

}  // namespace sgtest
