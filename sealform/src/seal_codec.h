// The seal codec: DER encoding and BER decoding of the eseal module's types, with the
// local-time rule for GeneralizedTime, and small helpers to read and fill asn1c members.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ExtData.h"
#include "ExtensionDatas.h"
#include "SESeal.h"

namespace sealform {

// Frees an asn1c value of a given type with everything it holds.
template <asn_TYPE_descriptor_t* Type>
struct AsnFree {
    void operator()(void* value) const {
        if (value) Type->free_struct(Type, value, 0);
    }
};
template <class T, asn_TYPE_descriptor_t* Type>
using AsnPtr = std::unique_ptr<T, AsnFree<Type>>;

using SealPtr = AsnPtr<SESeal_t, &asn_DEF_SESeal>;

// Allocates a zero-filled value of T (asn1c's idea of "empty").
template <class T>
T* asn_calloc() {
    return static_cast<T*>(calloc(1, sizeof(T)));
}

// Decodes BER (so also DER) bytes as a SESeal with the decoder stack limit of 30000 bytes.
// Bytes after the seal are left unread. Null on any decoder result other than success, and
// when an INTEGER member does not fit the 32 bits every seal reader holds it in.
SealPtr decode_seal(const uint8_t* data, size_t size);

// DER-encodes a value of `type` into `out`. GeneralizedTime members follow the local-time
// rule; text that is not a GeneralizedTime makes the whole encoding fail before a byte is
// produced. False on failure (`out` is then left empty).
bool der_encode(asn_TYPE_descriptor_t* type, const void* value, std::vector<uint8_t>& out);

// Text of a string member as a C string would see it: up to the first zero byte.
std::string member_text(const OCTET_STRING_t& s);
std::vector<uint8_t> member_bytes(const OCTET_STRING_t& s);

// Replaces a string member's contents with a copy of the bytes. False when memory runs out.
bool set_member(OCTET_STRING_t& s, const void* data, size_t size);
inline bool set_member(OCTET_STRING_t& s, const std::string& text) {
    return set_member(s, text.data(), text.size());
}

}  // namespace sealform
