#include "seal_codec.h"

#include <climits>
#include <cstring>

#include "BIT_STRING.h"
#include "GeneralizedTime.h"
#include "ber_tlv_length.h"
#include "ber_tlv_tag.h"
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

// BER decoder for BIT STRING members (the seal's signature): refuses what the run-time's own
// decoder would take wrongly. An unused-bit count above 7 is malformed, and the run-time would
// shift by it (undefined, and for 8 to 31 it zeroes the signature's last byte). A constructed
// (segmented) BIT STRING is refused too: the run-time keeps the unused-bit octet of every
// segment after the first as signature bytes. Everything else goes to the stock decoder.
asn_dec_rval_t decode_checked_bit_string(asn_codec_ctx_t* ctx, asn_TYPE_descriptor_t* td,
                                         void** sptr, const void* buf, size_t size, int tag_mode) {
    asn_dec_rval_t refused{RC_FAIL, 0};
    const auto* st = static_cast<const BIT_STRING_t*>(*sptr);
    const bool fresh = !st || st->_asn_ctx.phase == 0;
    if (fresh && tag_mode == 0 && size > 0) {
        const auto* p = static_cast<const uint8_t*>(buf);
        ber_tlv_tag_t tag = 0;
        ssize_t tag_bytes = ber_fetch_tag(p, size, &tag);
        if (tag_bytes > 0) {
            if (BER_TLV_CONSTRUCTED(p)) return refused;
            ber_tlv_len_t content = 0;
            ssize_t length_bytes =
                ber_fetch_length(0, p + tag_bytes, size - static_cast<size_t>(tag_bytes), &content);
            const size_t header = static_cast<size_t>(tag_bytes + length_bytes);
            if (length_bytes > 0 && content > 0 && size > header && p[header] > 7) return refused;
        }
    }
    asn_dec_rval_t rv = OCTET_STRING_decode_ber(ctx, td, sptr, buf, size, tag_mode);
    st = static_cast<const BIT_STRING_t*>(*sptr);
    if (rv.code == RC_OK && st && (st->bits_unused < 0 || st->bits_unused > 7)) rv.code = RC_FAIL;
    return rv;
}

// Every BIT STRING of the module refers to the one descriptor inside this library.
void use_checked_bit_strings() {
    static const bool installed = [] {
        asn_DEF_BIT_STRING.ber_decoder = decode_checked_bit_string;
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
    use_checked_bit_strings();
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
