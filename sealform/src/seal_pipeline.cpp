#include "seal_pipeline.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kit/trace.h"
#include "result_slots.h"
#include "sealform_steps.h"
#include "signer_module.h"

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
    kit::trace_marker(steps::kFill);
    if (!set_member(info.header.esID, v.header_id) || !set_member(info.header.vid, v.vid))
        return false;
    info.header.version = v.version;
    kit::trace_marker(steps::kFillHeader);

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
    kit::trace_marker(steps::kFillProperty);

    SESESPictrueInfo_t& picture = info.picture;
    if (!set_member(picture.type, v.picture_type) ||
        !set_member(picture.data, v.picture.data(), v.picture.size()))
        return false;
    picture.width = v.width;
    picture.height = v.height;
    kit::trace_marker(steps::kFillPicture);

    info.extDatas = fixed_ext_datas();
    if (!info.extDatas) return false;
    kit::trace_marker(steps::kFillExtension);

    if (!set_member(info.esID, v.seal_id)) return false;
    kit::trace_marker(steps::kFillSealId);
    return true;
}

bool set_maker(SESeal_t& seal, const Bytes& maker_cert) {
    // 1.2.156.10197.1.501, SM2 signature with SM3.
    static const uint8_t kSm2WithSm3[] = {0x2A, 0x81, 0x1C, 0xCF, 0x55, 0x01, 0x83, 0x75};
    return set_member(seal.cert, maker_cert.data(), maker_cert.size()) &&
           set_oid_bytes(seal.extnID, kSm2WithSm3, sizeof kSm2WithSm3);
}

template <class Out>
bool signer_base64_decode(std::string_view text, Out& out, size_t limit) {
    const SignerModule* signer = signer_module();
    if (!signer) return false;
    int size = 0;
    signer->base64_decode(text.data(), static_cast<int>(text.size()), nullptr, &size);
    if (size < 0 || static_cast<size_t>(size) > limit) return false;
    out.assign(static_cast<size_t>(size), 0);
    if (size == 0) return true;
    int stored = 0;
    signer->base64_decode(text.data(), static_cast<int>(text.size()), out.data(), &stored);
    if (stored < 0 || stored > size) return false;
    out.resize(static_cast<size_t>(stored));
    return true;
}

template bool signer_base64_decode(std::string_view, Bytes&, size_t);
template bool signer_base64_decode(std::string_view, kit::SecureBytes&, size_t);

pugi::xml_node open_maker_document(pugi::xml_document& doc, kit::SecureBytes& text,
                                   const char* params, const char* root_name) {
    const size_t size = std::strlen(params);
    text.assign(params, params + size);
    pugi::xml_parse_result parsed = doc.load_buffer_inplace(text.data(), size);
    if (!parsed) {
        kit::trace_marker(steps::kNotXml);
        char where[160];
        std::snprintf(where, sizeof where, "%s at offset %ld", parsed.description(),
                      static_cast<long>(parsed.offset));
        kit::trace_marker(where);
        return {};
    }
    pugi::xml_node root = doc.child(root_name);
    if (!root) {
        kit::trace_marker(steps::kWrongRoot);
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

unsigned char* make_signed_seal(const SealInfoValues& values, SealSigner& signer, int* length) {
    SealPtr seal(asn_calloc<SESeal_t>());
    if (!seal || !fill_seal_info(seal->sesSealInfo, values)) return nullptr;
    if (signer.maker_before_encoding) {
        if (!set_maker(*seal, signer.maker_certificate())) return nullptr;
        kit::trace_marker(steps::kInfoEncoded);
        kit::trace_marker(steps::kMakerSet);
    }
    // Seal information that does not encode ends the call here rather than signing nothing.
    Bytes info_der;
    if (!der_encode(&asn_DEF_SESSealInfo, &seal->sesSealInfo, info_der)) {
        kit::trace_marker(signer.info_not_encoded);
        return nullptr;
    }
    if (!signer.maker_before_encoding) {
        kit::trace_marker(steps::kInfoEncoded);
        if (!set_maker(*seal, signer.maker_certificate())) return nullptr;
        kit::trace_marker(steps::kMakerSet);
    }
    kit::trace_marker(steps::kSigning);

    Bytes signature;
    if (!signer.sign(info_der, signature)) return nullptr;
    if (!set_signature(*seal, signature.data(), signature.size())) return nullptr;
    kit::trace_marker(steps::kSigned);

    Bytes seal_der;
    if (!der_encode(&asn_DEF_SESeal, seal.get(), seal_der)) {
        kit::trace_marker(steps::kSealNotEncoded);
        return nullptr;
    }
    kit::trace_marker(steps::kSealEncoded);
    unsigned char* kept = keep_made_seal(seal_der);
    if (!kept) return nullptr;
    *length = static_cast<int>(seal_der.size());
    kit::trace_marker(steps::kKept);
    signer.finished(*length);
    return kept;
}

}  // namespace sealform
