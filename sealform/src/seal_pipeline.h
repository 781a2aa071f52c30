// The one path both seal makers take: fill the seal information from the values a maker read
// from its parameters, encode it, have the maker's signer sign it, encode the seal and keep it
// in the result slot. The makers differ only in how they read their parameters and in their
// signer (the PFX through the signer module, or maker key material through the key driver).
#pragma once

#include <cstddef>
#include <cstdint>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "kit/secure.h"
#include "seal_codec.h"

namespace sealform {

using Bytes = std::vector<uint8_t>;

struct SealInfoValues {
    std::string header_id;  // header.esID
    long version = 0;
    std::string vid;
    std::string seal_id;  // esID of the seal information
    long type = 0;
    std::string name_utf8;
    std::vector<Bytes> holder_certs;  // the certificate list, in this order
    std::string create_date;          // GeneralizedTime texts, stored unchanged
    std::string valid_start;
    std::string valid_end;
    std::string picture_type;
    Bytes picture;
    long width = 0;
    long height = 0;
};

// Limits of the values a seal is built from.
constexpr size_t kMaxNameBytes = 1023;  // seal name after conversion to UTF-8
constexpr size_t kMaxCertBytes = 2048;  // one decoded certificate

// Base64 through the signer module: the decoded length first, then the bytes, written once into
// `out` (a Bytes, or a kit::SecureBytes for key material). False when the bytes would exceed
// `limit`, or when the signer module is missing.
template <class Out>
bool signer_base64_decode(std::string_view text, Out& out, size_t limit = SIZE_MAX);

// certListType every maker writes: the list holds whole certificates.
constexpr long kCertListTypeFull = 1;

// Fills `info` (zero-filled on entry) with the values, certListType 1 and the one fixed
// ExtData ("aa", critical FALSE, "1"), marking the steps "MakeSeal...1.5" to
// "MakeSeal...1.5.3.2" as both makers do. False when memory runs out.
bool fill_seal_info(SESSealInfo_t& info, const SealInfoValues& values);

// Loads a maker's parameter document and returns its root element `root_name`. The text is
// parsed in place in `text`, a wiping copy of `params` that must outlive `doc`: the parameters
// carry key material (a PFX and its password), and element texts point into that copy. A text
// that is not XML is marked "MakeSeal...e.2" with the parse error and its offset (never the
// text), a wrong root "MakeSeal...e.3" with the root's name; both give an empty node.
pugi::xml_node open_maker_document(pugi::xml_document& doc, kit::SecureBytes& text,
                                   const char* params, const char* root_name);

// Sets the maker's certificate and the algorithm identifier 1.2.156.10197.1.501 (SM2 with SM3).
bool set_maker(SESeal_t& seal, const Bytes& maker_cert);

// Sets the signature (unused-bit count 0).
bool set_signature(SESeal_t& seal, const uint8_t* signature, size_t size);

// A maker's signer.
class SealSigner {
  public:
    virtual ~SealSigner() = default;
    // The maker's certificate that the seal carries.
    virtual const Bytes& maker_certificate() const = 0;
    // Signs the complete DER of the seal information (tag and length included). False when it
    // cannot, with the failure marked.
    virtual bool sign(const Bytes& info_der, Bytes& signature) = 0;
    // Marks that end a successful make of `length` bytes.
    virtual void finished(int length) = 0;

    // The label of seal information that does not encode (a date that is not a
    // GeneralizedTime), and whether the maker's certificate is set before that encoding.
    const char* info_not_encoded = nullptr;
    bool maker_before_encoding = false;
};

// Fills, encodes, signs, encodes and keeps a seal, marking the steps from "MakeSeal...1.5" to
// "MakeSeal...1.9". Returns the kept bytes and stores their count in *length; null on failure
// (*length unchanged).
unsigned char* make_signed_seal(const SealInfoValues& values, SealSigner& signer, int* length);

}  // namespace sealform
