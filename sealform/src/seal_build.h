// Filling a new seal from the values a maker collected: the header, properties, picture and
// the fixed extension of the seal information, then the maker's certificate, algorithm and
// signature of the seal. Both makers (PFX signer and key driver) build seals this way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <pugixml.hpp>

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

// Base64 through the signer module: the decoded length first, then the bytes. False when the
// bytes would exceed `limit`.
bool signer_base64_decode(const std::string& text, Bytes& out, size_t limit = SIZE_MAX);

// certListType every maker writes: the list holds whole certificates.
constexpr long kCertListTypeFull = 1;

// Fills `info` (zero-filled on entry) with the values, certListType 1 and the one fixed
// ExtData ("aa", critical FALSE, "1"), marking the steps "MakeSeal...1.5" to
// "MakeSeal...1.5.3.2" as both makers do. False when memory runs out.
bool fill_seal_info(SESSealInfo_t& info, const SealInfoValues& values);

// Loads a maker's parameter document and returns its root element `root_name`. A text that
// is not XML is marked "MakeSeal...e.2" with the parse error and its offset (never the text:
// it carries key material), a wrong root "MakeSeal...e.3" with the root's name; both give an
// empty node.
pugi::xml_node open_maker_document(pugi::xml_document& doc, const char* params,
                                   const char* root_name);

// Sets the maker's certificate and the algorithm identifier 1.2.156.10197.1.501 (SM2 with SM3).
bool set_maker(SESeal_t& seal, const Bytes& maker_cert);

// Sets the signature (unused-bit count 0).
bool set_signature(SESeal_t& seal, const uint8_t* signature, size_t size);

}  // namespace sealform
