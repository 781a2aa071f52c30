// ParsingSeal_ForVerify: the signed bytes, the maker's certificate and the signature of a
// seal, for a verifier.
//
// The signed bytes are the seal information's element copied as it stands in the seal. A
// re-encoding would not do: times are encoded in the encoding machine's local time, so the
// bytes the maker signed come back only on a machine in the maker's time zone.
#include <cstring>

// clang-format off
#include "seal_codec.h"  // first: brings the asn1c system definitions the TLV helpers need
#include "ber_tlv_length.h"
#include "ber_tlv_tag.h"
// clang-format on
#include "kit/trace.h"
#include "seal_describe.h"
#include "sealform.h"
#include "trace_text.h"

namespace sealform {
namespace {

struct Span {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// The complete first element (tag, length, contents) inside the outer SEQUENCE of BER bytes;
// definite and indefinite lengths alike.
bool first_member(const uint8_t* data, size_t size, Span& out) {
    ber_tlv_tag_t tag = 0;
    ssize_t tag_len = ber_fetch_tag(data, size, &tag);
    if (tag_len <= 0) return false;
    ber_tlv_len_t outer_len = 0;
    ssize_t len_len = ber_fetch_length(BER_TLV_CONSTRUCTED(data), data + tag_len,
                                       size - static_cast<size_t>(tag_len), &outer_len);
    if (len_len <= 0) return false;
    size_t header = static_cast<size_t>(tag_len + len_len);
    size_t available = size - header;
    if (outer_len >= 0 && static_cast<size_t>(outer_len) < available)
        available = static_cast<size_t>(outer_len);
    const uint8_t* inner = data + header;
    ssize_t inner_tag_len = ber_fetch_tag(inner, available, &tag);
    if (inner_tag_len <= 0) return false;
    asn_codec_ctx_t ctx{};
    ctx.max_stack_size = 30000;
    ssize_t rest = ber_skip_length(&ctx, BER_TLV_CONSTRUCTED(inner), inner + inner_tag_len,
                                   available - static_cast<size_t>(inner_tag_len));
    if (rest <= 0) return false;
    size_t total = static_cast<size_t>(inner_tag_len + rest);
    if (total > available) return false;
    out = {inner, total};
    return true;
}

struct Output {
    Span bytes;
    unsigned char* buffer;
    int* length;
    bool wanted() const { return buffer && length; }
    bool fits() const { return *length <= 0 || bytes.size <= static_cast<size_t>(*length); }
};

}  // namespace

int parse_for_verify(const unsigned char* seal, int seal_length, unsigned char* info,
                     int* info_length, unsigned char* cert, int* cert_length, unsigned char* sign,
                     int* sign_length) {
    {
        kit::trace("%s------------------1", "ParsingSeal_ForVerify");
        kit::trace_marker("ParsingSeal...1");
        size_t size = seal && seal_length > 0 ? static_cast<size_t>(seal_length) : 0;
        SealPtr decoded = size ? decode_seal(seal, size) : nullptr;
        Span signed_info;
        if (!decoded || !first_member(seal, size, signed_info)) {
            trace_marker_utf8("ParsingSeal...1.e1 解析电子印章数据失败");
            return SEALFORM_NOT_A_SEAL;
        }
        const OCTET_STRING_t& maker = decoded->cert;
        const BIT_STRING_t& signature = decoded->signedMsg;
        Output outputs[] = {
            {signed_info, info, info_length},
            {{signature.buf, signature.buf ? static_cast<size_t>(signature.size) : 0},
             sign,
             sign_length},
            {{maker.buf, maker.buf ? static_cast<size_t>(maker.size) : 0}, cert, cert_length},
        };
        bool all_fit = true;
        for (const Output& o : outputs)
            if (o.wanted() && !o.fits()) all_fit = false;
        if (!all_fit) {
            for (const Output& o : outputs)
                if (o.wanted()) *o.length = static_cast<int>(o.bytes.size);
            kit::trace("%s------------------e.2", "ParsingSeal_ForVerify");
            return SEALFORM_BUFFER_TOO_SMALL;
        }
        for (const Output& o : outputs) {
            if (!o.wanted()) continue;
            if (o.bytes.size) std::memcpy(o.buffer, o.bytes.data, o.bytes.size);
            *o.length = static_cast<int>(o.bytes.size);
        }
        kit::trace("%s------------------5", "ParsingSeal_ForVerify");
        return 0;
    }
}

}  // namespace sealform
