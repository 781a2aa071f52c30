#include "seal_build.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kit/trace.h"
#include "signaturemodule.h"

namespace sealform {
namespace {

// Content octets of OBJECT IDENTIFIER members, written as they are.
bool set_oid_bytes(OBJECT_IDENTIFIER_t& oid, const uint8_t* content, size_t size) {
    auto* buf = static_cast<uint8_t*>(std::malloc(size + 1));
    if (!buf) return false;
    std::memcpy(buf, content, size);
    buf[size] = 0;
    std::free(oid.buf);
    oid.buf = buf;
    oid.size = static_cast<int>(size);
    return true;
}

// The one extension every made seal carries: identifier "aa", critical FALSE, value "1".
ExtensionDatas_t* fixed_ext_datas() {
    static const uint8_t kExtnId[] = {0x61, 0x61};
    AsnPtr<ExtData_t, &asn_DEF_ExtData> ext(asn_calloc<ExtData_t>());
    if (!ext || !set_oid_bytes(ext->extnID, kExtnId, sizeof kExtnId)) return nullptr;
    ext->critical = asn_calloc<BOOLEAN_t>();
    if (!ext->critical) return nullptr;
    *ext->critical = 0;
    if (!set_member(ext->extnValue, "1", 1)) return nullptr;
    AsnPtr<ExtensionDatas_t, &asn_DEF_ExtensionDatas> datas(asn_calloc<ExtensionDatas_t>());
    if (!datas || ASN_SEQUENCE_ADD(&datas->list, ext.get()) != 0) return nullptr;
    ext.release();
    return datas.release();
}

}  // namespace

bool fill_seal_info(SESSealInfo_t& info, const SealInfoValues& v) {
    kit::trace_marker("MakeSeal...1.5");
    if (!set_member(info.header.esID, v.header_id) || !set_member(info.header.vid, v.vid))
        return false;
    info.header.version = v.version;
    kit::trace_marker("MakeSeal...1.5.1");

    SESESPropertyInfo_t& property = info.property;
    property.type = v.type;
    property.certListType = kCertListTypeFull;
    if (!set_member(property.name, v.name_utf8)) return false;
    for (const Bytes& der : v.holder_certs) {
        AsnPtr<Cert_t, &asn_DEF_Cert> cert(asn_calloc<Cert_t>());
        if (!cert || !set_member(*cert, der.data(), der.size()) ||
            ASN_SEQUENCE_ADD(&property.certList.list, cert.get()) != 0)
            return false;
        cert.release();
    }
    if (!set_member(property.createDate, v.create_date) ||
        !set_member(property.validStart, v.valid_start) ||
        !set_member(property.validEnd, v.valid_end))
        return false;
    kit::trace_marker("MakeSeal...1.5.2");

    SESESPictrueInfo_t& picture = info.picture;
    if (!set_member(picture.type, v.picture_type) ||
        !set_member(picture.data, v.picture.data(), v.picture.size()))
        return false;
    picture.width = v.width;
    picture.height = v.height;
    kit::trace_marker("MakeSeal...1.5.3");

    info.extDatas = fixed_ext_datas();
    if (!info.extDatas) return false;
    kit::trace_marker("MakeSeal...1.5.3.1");

    if (!set_member(info.esID, v.seal_id)) return false;
    kit::trace_marker("MakeSeal...1.5.3.2");
    return true;
}

bool set_maker(SESeal_t& seal, const Bytes& maker_cert) {
    // 1.2.156.10197.1.501, SM2 signature with SM3.
    static const uint8_t kSm2WithSm3[] = {0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x83, 0x75};
    return set_member(seal.cert, maker_cert.data(), maker_cert.size()) &&
           set_oid_bytes(seal.extnID, kSm2WithSm3, sizeof kSm2WithSm3);
}

bool signer_base64_decode(const std::string& text, Bytes& out, size_t limit) {
    int size = 0;
    Base64_decode(text.c_str(), static_cast<int>(text.size()), nullptr, &size);
    if (size < 0 || static_cast<size_t>(size) > limit) return false;
    out.assign(static_cast<size_t>(size), 0);
    if (size == 0) return true;
    int stored = 0;
    Base64_decode(text.c_str(), static_cast<int>(text.size()), out.data(), &stored);
    if (stored < 0 || stored > size) return false;
    out.resize(static_cast<size_t>(stored));
    return true;
}

pugi::xml_node open_maker_document(pugi::xml_document& doc, const char* params,
                                   const char* root_name) {
    pugi::xml_parse_result parsed = doc.load_buffer(params, std::strlen(params));
    if (!parsed) {
        kit::trace_marker("MakeSeal...e.2");
        char where[160];
        std::snprintf(where, sizeof where, "%s at offset %ld", parsed.description(),
                      static_cast<long>(parsed.offset));
        kit::trace_marker(where);
        return {};
    }
    pugi::xml_node root = doc.child(root_name);
    if (!root) {
        kit::trace_marker("MakeSeal...e.3");
        kit::trace_marker((std::string("top element: ") + doc.document_element().name()).c_str());
    }
    return root;
}

bool set_signature(SESeal_t& seal, const uint8_t* signature, size_t size) {
    auto* buf = static_cast<uint8_t*>(std::malloc(size + 1));
    if (!buf) return false;
    if (size) std::memcpy(buf, signature, size);
    std::free(seal.signedMsg.buf);
    seal.signedMsg.buf = buf;
    seal.signedMsg.size = static_cast<int>(size);
    seal.signedMsg.bits_unused = 0;
    return true;
}

}  // namespace sealform
