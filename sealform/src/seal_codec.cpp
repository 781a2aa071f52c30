#include "seal_codec.h"

#include <climits>
#include <cstring>

#include "GeneralizedTime.h"
#include "generalized_time.h"

namespace sealform {
namespace {

// DER encoder for GeneralizedTime members: the local-time rule instead of asn1c's stock
// encoder, which converts to UTC.
asn_enc_rval_t encode_local_generalized_time(asn_TYPE_descriptor_t* td, void* sptr, int tag_mode,
                                             ber_tlv_tag_t tag, asn_app_consume_bytes_f* cb,
                                             void* app_key) {
    const auto* st = static_cast<const GeneralizedTime_t*>(sptr);
    std::string text(reinterpret_cast<const char*>(st->buf), st->buf ? st->size : 0);
    auto local = local_generalized_time(text);
    if (!local) {
        asn_enc_rval_t failed{};
        failed.encoded = -1;
        failed.failed_type = td;
        failed.structure_ptr = sptr;
        return failed;
    }
    GeneralizedTime_t rewritten{};
    rewritten.buf = reinterpret_cast<uint8_t*>(local->data());
    rewritten.size = static_cast<int>(local->size());
    return OCTET_STRING_encode_der(td, &rewritten, tag_mode, tag, cb, app_key);
}

// Every seal type refers to the one GeneralizedTime descriptor, which lives inside this
// library; pointing its DER encoder at the local-time rule once covers every member.
void use_local_time_rule() {
    static const bool installed = [] {
        asn_DEF_GeneralizedTime.der_encoder = encode_local_generalized_time;
        return true;
    }();
    (void)installed;
}

int append_bytes(const void* buffer, size_t size, void* key) {
    auto* out = static_cast<std::vector<uint8_t>*>(key);
    const auto* p = static_cast<const uint8_t*>(buffer);
    out->insert(out->end(), p, p + size);
    return 0;
}

bool fits_32_bits(long v) { return v >= INT32_MIN && v <= INT32_MAX; }

}  // namespace

SealPtr decode_seal(const uint8_t* data, size_t size) {
    asn_codec_ctx_t ctx{};
    ctx.max_stack_size = 30000;
    SESeal_t* raw = asn_calloc<SESeal_t>();
    if (!raw) return nullptr;
    SealPtr seal(raw);
    void* target = raw;
    asn_dec_rval_t rv = ber_decode(&ctx, &asn_DEF_SESeal, &target, data, size);
    if (rv.code != RC_OK) return nullptr;
    const SESSealInfo_t& info = seal->sesSealInfo;
    if (!fits_32_bits(info.header.version) || !fits_32_bits(info.property.type) ||
        !fits_32_bits(info.property.certListType) || !fits_32_bits(info.picture.width) ||
        !fits_32_bits(info.picture.height))
        return nullptr;
    return seal;
}

bool der_encode(asn_TYPE_descriptor_t* type, const void* value, std::vector<uint8_t>& out) {
    use_local_time_rule();
    out.clear();
    // First pass: lengths only (this is where an unreadable time fails, before any output).
    asn_enc_rval_t sized = ::der_encode(type, const_cast<void*>(value), nullptr, nullptr);
    if (sized.encoded < 0) return false;
    out.reserve(static_cast<size_t>(sized.encoded));
    asn_enc_rval_t rv = ::der_encode(type, const_cast<void*>(value), append_bytes, &out);
    if (rv.encoded < 0 || static_cast<size_t>(rv.encoded) != out.size()) {
        out.clear();
        return false;
    }
    return true;
}

std::string member_text(const OCTET_STRING_t& s) {
    if (!s.buf || s.size <= 0) return {};
    const char* p = reinterpret_cast<const char*>(s.buf);
    return std::string(p, strnlen(p, static_cast<size_t>(s.size)));
}

std::vector<uint8_t> member_bytes(const OCTET_STRING_t& s) {
    if (!s.buf || s.size <= 0) return {};
    return std::vector<uint8_t>(s.buf, s.buf + s.size);
}

bool set_member(OCTET_STRING_t& s, const void* data, size_t size) {
    return OCTET_STRING_fromBuf(&s, static_cast<const char*>(data), static_cast<int>(size)) == 0;
}

}  // namespace sealform
