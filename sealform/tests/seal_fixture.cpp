#include "seal_fixture.h"

#include <cstdlib>
#include <ctime>

#include "OBJECT_IDENTIFIER.h"

namespace sealform::testing {

SealPtr build_seal(const SealSpec& spec) {
    SealPtr seal(asn_calloc<SESeal_t>());
    SESSealInfo_t& info = seal->sesSealInfo;
    set_member(info.header.esID, spec.header_id);
    info.header.version = spec.version;
    set_member(info.header.vid, spec.vid);
    set_member(info.esID, spec.seal_id);
    info.property.type = spec.type;
    set_member(info.property.name, spec.name);
    info.property.certListType = spec.cert_list_type;
    for (const auto& der : spec.holder_certs) {
        Cert_t* cert = asn_calloc<Cert_t>();
        set_member(*cert, der.data(), der.size());
        ASN_SEQUENCE_ADD(&info.property.certList.list, cert);
    }
    set_member(info.property.createDate, spec.create_date);
    set_member(info.property.validStart, spec.valid_start);
    set_member(info.property.validEnd, spec.valid_end);
    set_member(info.picture.type, spec.picture_type);
    set_member(info.picture.data, spec.picture.data(), spec.picture.size());
    info.picture.width = spec.width;
    info.picture.height = spec.height;
    if (spec.with_ext_data) {
        info.extDatas = asn_calloc<ExtensionDatas>();
        ExtData_t* ext = asn_calloc<ExtData_t>();
        static const long kArcs[] = {1, 2, 3};
        OBJECT_IDENTIFIER_set_arcs(&ext->extnID, kArcs, sizeof kArcs[0], 3);
        ext->critical = asn_calloc<BOOLEAN_t>();
        *ext->critical = 0;
        set_member(ext->extnValue, std::string("1"));
        ASN_SEQUENCE_ADD(&info.extDatas->list, ext);
    }
    set_member(seal->cert, spec.maker_cert.data(), spec.maker_cert.size());
    static const long kSm2WithSm3[] = {1, 2, 156, 10197, 1, 501};
    OBJECT_IDENTIFIER_set_arcs(&seal->extnID, kSm2WithSm3, sizeof kSm2WithSm3[0], 6);
    seal->signedMsg.buf = static_cast<uint8_t*>(malloc(spec.signature.size() + 1));
    std::copy(spec.signature.begin(), spec.signature.end(), seal->signedMsg.buf);
    seal->signedMsg.size = static_cast<int>(spec.signature.size());
    seal->signedMsg.bits_unused = 0;
    return seal;
}

std::vector<uint8_t> encode_seal(const SealSpec& spec) {
    SealPtr seal = build_seal(spec);
    std::vector<uint8_t> out;
    der_encode(&asn_DEF_SESeal, seal.get(), out);
    return out;
}

TimeZone::TimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) {
        had_ = true;
        old_ = old;
    }
    ::setenv("TZ", tz, 1);
    ::tzset();
}

TimeZone::~TimeZone() {
    if (had_)
        ::setenv("TZ", old_.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

}  // namespace sealform::testing
