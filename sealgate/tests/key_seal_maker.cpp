#include "key_seal_maker.h"

#include "kit/base64.h"
#include "kit/platform.h"
#include "maker_document.h"
#include "testpki.h"

namespace sgtest {

// A one-bit BMP: small enough that a 200 x 100 picture leaves room in the 20480-byte seal
// description.
std::vector<uint8_t> bmp_picture(int width, int height, size_t padding) {
    return testpki::bmp_picture(width, height, 1, padding);
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
    auto params = securemodel::SealInfoDocument::standard(maker.get(), maker_key.sign_cert,
                                                          made.picture, made.holder_cert);
    params.values["esid"] = order.esid;
    params.values["version"] = order.version;
    params.values["sealtype"] = order.type;
    params.values["sealname"] = order.name_gbk;
    params.values["createdate"] = order.valid_start;
    params.values["validstart"] = order.valid_start;
    params.values["validend"] = order.valid_end;
    const std::string xml = params.xml();

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
    unsigned char* der = make(xml.c_str(), &length);
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
