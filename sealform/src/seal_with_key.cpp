// MakeSeal_SignWithKey and ParsingSeal_SignWithKey: seals whose maker signs through the key
// driver with maker key material that travels encrypted inside the parameters.
//
// The maker document holds the maker's private key once decrypted. It exists only as a
// temporary file between the decryption and the read that follows, and that file (like every
// other temporary file of the call) is removed on every path. Neither the parameter text nor
// the signing request is ever traced: both carry key material.
#include "seal_with_key.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <pugixml.hpp>
#include <string>
#include <system_error>

#include "certificatesdk.h"
#include "image_info.h"
#include "kit/base64.h"
#include "kit/certificate.h"
#include "kit/platform.h"
#include "kit/trace.h"
#include "seal_build.h"
#include "seal_codec.h"
#include "seal_make.h"
#include "sealform.h"
#include "securemodelcollection.h"
#include "signaturemodule.h"
#include "trace_text.h"
#include "xml_text.h"

namespace sealform {
namespace {

constexpr const char kMakeName[] = "MakeSeal_SignWithKey";
constexpr const char kParseName[] = "ParsingSeal_SignWithKey";
// The key text of the maker document's encryption.
constexpr const char kMakerDocumentKey[] = "m4k8p2x6r9t3vb!#";
constexpr size_t kSignatureBytes = 2048;

// Read the maker document from its decrypted file and drop the file at once.
struct MakerDocument {
    Bytes cert;
    std::string model, private_key, x, y;
};

// Checks the signature with the maker's certificate through the certificate SDK. Only traced:
// the seal is made whatever the outcome. Skipped when the module, its function or a readable
// certificate is missing.
void self_check(const Bytes& cert, const Bytes& data, const uint8_t* signature, int length) {
    kit::Module sdk = kit::Module::load("CertificateSDK.dll");
    if (!sdk) return;
    auto verify = sdk.function<SKFVerifyData_fn>("SKFVerifyData");
    if (!verify) return;
    kit::Certificate certificate = kit::Certificate::decode(cert.data(), cert.size());
    if (!certificate) return;
    int rc = verify(static_cast<CERTIFICATESDK_CERT>(certificate.context()), data.data(),
                    static_cast<int>(data.size()), signature, length);
    kit::trace("%s...1.6.3.1::%d", kMakeName, rc);
}

unsigned char* make_seal_with_key(const char* params, int* length) {
    kit::trace("%s...1", kMakeName);
    ReleaseSealData();
    if (!params || !length) {
        mark("MakeSeal...e.1");
        return nullptr;
    }

    pugi::xml_document doc;
    pugi::xml_node root = open_maker_document(doc, params, "sealinfo");
    if (!root) return nullptr;
    static const char* const kRequired[] = {"imgdata",    "usercertlist", "esid",
                                            "version",    "sealtype",     "sealname",
                                            "createdate", "validstart",   "validend"};
    for (const char* name : kRequired) {
        if (!root.child(name)) {
            mark("MakeSeal...e.3.1");
            mark(std::string("missing element: ") + name);
            return nullptr;
        }
    }

    std::vector<std::string> cert_texts;
    for (pugi::xml_node c = root.child("usercertlist").child("usercert"); c;
         c = c.next_sibling("usercert"))
        cert_texts.push_back(c.text().get());
    if (cert_texts.empty()) {
        mark("MakeSeal...e.3.1");
        mark("usercertlist holds no usercert");
        return nullptr;
    }
    SealInfoValues values;
    values.header_id = "ES";
    values.vid = "RZ";
    values.version = element_number(root, "version");
    values.type = element_number(root, "sealtype");

    // The picture is measured from a file, as the image loader reads files.
    const std::string picture_text = element_text(root, "imgdata");
    {
        kit::TempFile picture_file;
        Bytes picture = kit::base64_decode(picture_text);
        double width = 0, height = 0;
        if (!picture_file ||
            !kit::write_whole_file(picture_file.path(), picture.data(), picture.size()) ||
            GetImgInfo(kit::to_utf16(picture_file.path()), &width, &height) != 0) {
            mark("MakeSeal...1.1/.1");
            return nullptr;
        }
        // Whole millimetres, cut toward zero.
        values.width = static_cast<long>(std::trunc(width));
        values.height = static_cast<long>(std::trunc(height));
    }

    values.name_utf8 = kit::to_utf8(element_text(root, "sealname"));
    if (values.name_utf8.size() > kMaxNameBytes) {
        mark("MakeSeal...e.3.2");
        mark("name longer than 1023 bytes");
        return nullptr;
    }
    values.seal_id = element_text(root, "esid");
    values.create_date = element_text(root, "createdate");
    values.valid_start = element_text(root, "validstart");
    values.valid_end = element_text(root, "validend");
    values.picture_type = element_text(root, "imgtype");
    Bytes holder_cert;
    if (!signer_base64_decode(cert_texts.front(), holder_cert, kMaxCertBytes)) {
        mark("MakeSeal...e.3.2");
        mark("usercert longer than 2048 bytes");
        return nullptr;
    }
    values.holder_certs.push_back(std::move(holder_cert));
    signer_base64_decode(picture_text, values.picture, SIZE_MAX);

    MakerDocument maker;
    {
        kit::TempFile sealed, opened;
        Bytes encrypted = kit::base64_decode(element_text(root, "sealmakercert"));
        if (!sealed || !opened ||
            !kit::write_whole_file(sealed.path(), encrypted.data(), encrypted.size())) {
            kit::trace("%s...1.6", kMakeName);
            return nullptr;
        }
        if (decryptFile(sealed.path().c_str(), opened.path().c_str()) != 0) {
            kit::trace("%s...1.6", kMakeName);
            return nullptr;
        }
        Bytes plain;
        bool read = kit::read_whole_file(opened.path(), plain);
        opened.remove();
        pugi::xml_document maker_doc;
        pugi::xml_parse_result maker_parsed =
            read ? maker_doc.load_buffer(plain.data(), plain.size()) : pugi::xml_parse_result();
        std::fill(plain.begin(), plain.end(), 0);
        if (!read || !maker_parsed) {
            mark("MakeSeal...e.21::%s");
            mark(read ? maker_parsed.description() : "decrypted maker document unreadable");
            return nullptr;
        }
        pugi::xml_node m = maker_doc.child("sealmakercert");
        if (!m) {
            mark("MakeSeal...e.31");
            return nullptr;
        }
        kit::trace("%s...1.7", kMakeName);
        maker.model = element_text(m, "moldlen");
        maker.private_key = element_text(m, "privatekey");
        maker.x = element_text(m, "x");
        maker.y = element_text(m, "y");
        if (!signer_base64_decode(element_text(m, "cer"), maker.cert, kMaxCertBytes)) {
            mark("MakeSeal...e.31");
            mark("maker certificate longer than 2048 bytes");
            return nullptr;
        }
    }

    SealPtr seal(asn_calloc<SESeal_t>());
    if (!seal || !fill_seal_info(seal->sesSealInfo, values)) return nullptr;
    if (!set_maker(*seal, maker.cert)) return nullptr;
    mark("MakeSeal...1.5.4");
    mark("MakeSeal...1.5.5");

    Bytes info_der;
    if (!der_encode(&asn_DEF_SESSealInfo, &seal->sesSealInfo, info_der)) {
        mark("MakeSeal...e.6");
        return nullptr;
    }
    mark("MakeSeal...1.6");

    pugi::xml_document request;
    pugi::xml_node certinfo = request.append_child("certinfo");
    certinfo.append_child("model").text().set(maker.model.c_str());
    certinfo.append_child("prikey").text().set(maker.private_key.c_str());
    certinfo.append_child("pubx").text().set(maker.x.c_str());
    certinfo.append_child("puby").text().set(maker.y.c_str());
    certinfo.append_child("srcdata").text().set(kit::base64_encode(info_der).c_str());
    std::string request_text = print_xml(request);
    mark("MakeSeal...1.6.16");

    Bytes signature(kSignatureBytes, 0);
    int signature_length = 0;
    int rc = EccSignData(request_text.c_str(), signature.data(), &signature_length);
    std::fill(request_text.begin(), request_text.end(), '\0');
    if (rc != 0) {
        kit::trace("%s...1.6.1.1::%d", kMakeName, rc);
        return nullptr;
    }
    // A length outside the buffer the driver was given cannot be a signature in it.
    if (signature_length <= 0 || static_cast<size_t>(signature_length) > kSignatureBytes) {
        kit::trace("%s...1.6.1.1::%d", kMakeName, 4);
        return nullptr;
    }
    self_check(maker.cert, info_der, signature.data(), signature_length);

    if (!set_signature(*seal, signature.data(), static_cast<size_t>(signature_length)))
        return nullptr;
    mark("MakeSeal...1.7");
    Bytes seal_der;
    if (!der_encode(&asn_DEF_SESeal, seal.get(), seal_der)) {
        mark("MakeSeal...e.8");
        return nullptr;
    }
    unsigned char* result = keep_made_seal(seal_der);
    if (!result) return nullptr;
    *length = static_cast<int>(seal_der.size());
    mark("MakeSeal...1.8");
    mark("MakeSeal...1.9");
    kit::trace("MakeSeal...2::%s::%d", kMakeName, *length);
    return result;
}

std::string describe(const SESeal_t& seal) {
    const SESSealInfo_t& info = seal.sesSealInfo;
    const SESESPropertyInfo_t& property = info.property;
    const SESESPictrueInfo_t& picture = info.picture;
    auto decimal = [](long v) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%ld", v);
        return std::string(buf);
    };

    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("sealinfo");
    static const char* const kChildren[] = {
        "id",         "version",    "vid",      "sealtype",    "sealname", "usercertlist",
        "createdate", "validstart", "validend", "imgtype",     "imgdata",  "imgwidth",
        "imgheight",  "esid",       "signdata", "sealmakercer"};
    for (const char* name : kChildren) root.append_child(name);
    auto set = [&](const char* name, const std::string& text) {
        root.child(name).text().set(text.c_str());
    };
    set("id", member_text(info.header.esID));
    set("version", decimal(info.header.version));
    set("vid", member_text(info.header.vid));
    set("sealtype", decimal(property.type));

    // The name goes out in the ANSI code page by way of code page 936: exact where the ANSI
    // code page is 936, a best effort elsewhere.
    mark("ParsingSeal...1.1");
    std::string gbk = kit::from_utf8(member_text(property.name), 936);
    std::string name = kit::from_utf16(kit::to_utf16(gbk, 936));
    mark(name);
    set("sealname", name);
    mark("ParsingSeal...1.2");
    kit::trace("%s------------------2", kParseName);

    append_certificates(root.child("usercertlist"), "usercert", property.certList);
    set("createdate", member_text(property.createDate));
    set("validstart", member_text(property.validStart));
    set("validend", member_text(property.validEnd));
    set("imgtype", member_text(picture.type));
    set("imgdata", kit::base64_encode(picture.data.buf, static_cast<size_t>(picture.data.size)));
    set("imgwidth", decimal(picture.width));
    set("imgheight", decimal(picture.height));
    set("esid", member_text(info.esID));
    kit::trace("%s------------------3", kParseName);
    set("signdata",
        kit::base64_encode(seal.signedMsg.buf, static_cast<size_t>(seal.signedMsg.size)));
    kit::trace("%s------------------4", kParseName);
    set("sealmakercer", kit::base64_encode(seal.cert.buf, static_cast<size_t>(seal.cert.size)));
    kit::trace("%s------------------5", kParseName);
    return print_xml(root);
}

}  // namespace

int decryptFile(const char* source, const char* target) {
    static const char kName[] = "decryptFile";
    std::error_code exists_error;
    if (!source || !*source || !std::filesystem::exists(source, exists_error)) {
        kit::trace("%s-----------1.0", kName);
        return 23;
    }
    if (!target || !*target) {
        kit::trace("%s-----------1.1", kName);
        return 3;
    }
    kit::Module module = kit::Module::load("SecureModelCollection.dll");
    if (!module) return 404;
    auto decrypt = module.function<SymmetryDecryption_File_fn>("SymmetryDecryption_File");
    if (!decrypt) return 404;
    int rc = decrypt(source, target, SECUREMODEL_SM4_CBC, kMakerDocumentKey, 0);
    kit::trace("%s-----------1.4::%d", kName, rc);
    if (rc == 0) return 0;
    kit::trace("%s-----------1.5::%d", kName, rc);
    return 404;
}

int EccSignData(const char* request, unsigned char* signature, int* signature_length) {
    static const char kName[] = "EccSignData";
    kit::trace("%s---------------------------1", kName);
    kit::Module driver = kit::Module::load("UKeyDriver.dll");
    if (!driver) {
        kit::trace("%s---------------------------1::%d", kName, kit::last_system_error());
        return 1;
    }
    using OpenFn = void* (*)();
    using CloseFn = int (*)(void*);
    using SignFn = int (*)(void*, const char*, unsigned char*, int*);
    auto open = driver.function<OpenFn>("OpenDevice");
    auto close = driver.function<CloseFn>("CloseDevice");
    auto sign = driver.function<SignFn>("ECCSignExt");
    if (!open || !close || !sign) return 2;
    void* device = open();
    if (!device) return 3;
    int rc = sign(device, request, signature, signature_length);
    close(device);
    return rc == 0 ? 0 : 4;
}

}  // namespace sealform

using namespace sealform;

extern "C" SEALFORM_API unsigned char* SEALFORM_CALL MakeSeal_SignWithKey(const char* params,
                                                                          int* length) {
    try {
        return make_seal_with_key(params, length);
    } catch (...) {
        return nullptr;
    }
}

extern "C" SEALFORM_API int SEALFORM_CALL ParsingSeal_SignWithKey(const unsigned char* seal,
                                                                  int seal_length, char* xml,
                                                                  int* xml_length) {
    try {
        kit::trace("%s------------------1", kParseName);
        mark("ParsingSeal...1");
        if (!xml_length) return SEALFORM_NOT_A_SEAL;
        SealPtr decoded;
        if (seal && seal_length > 0) decoded = decode_seal(seal, static_cast<size_t>(seal_length));
        if (!decoded) {
            trace_marker_utf8("ParsingSeal...1.e1 解析电子印章数据失败");
            return SEALFORM_NOT_A_SEAL;
        }
        std::string text = describe(*decoded);
        if (xml) {
            // A positive length on entry is the buffer's capacity: never write past it.
            if (*xml_length > 0 && text.size() > static_cast<size_t>(*xml_length)) {
                *xml_length = static_cast<int>(text.size());
                return SEALFORM_BUFFER_TOO_SMALL;
            }
            std::memcpy(xml, text.data(), text.size());
            kit::trace("%s------------------6", kParseName);
        }
        *xml_length = static_cast<int>(text.size());
        mark("ParsingSeal...2");
        return 0;
    } catch (...) {
        return SEALFORM_NOT_A_SEAL;
    }
}
