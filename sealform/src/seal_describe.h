// A seal described as XML: the "sealinfos" document of ParsingSeal and the "sealinfo" document
// of ParsingSeal_SignWithKey, both from one table of elements.
#pragma once

#include <string>

#include "seal_codec.h"

namespace sealform {

enum class SealView {
    kSealinfos,  // ParsingSeal: header, properties, holder certificates, picture
    kSealinfo,   // ParsingSeal_SignWithKey: the same with other names, the name in the ANSI
                 // code page, the signature and the maker's certificate
};

// The text of the seal's description in the library's XML text form. The "sealinfo" view
// traces its steps ("ParsingSeal...1.1", the name, "ParsingSeal...1.2" and
// "ParsingSeal_SignWithKey------------------2" to "...5").
std::string describe_seal(const SESeal_t& seal, SealView view);

}  // namespace sealform

namespace sealform {

// The work of the parsing exports once their frame has caught what they may throw: ParsingSeal
// (the previous result released), ParsingSeal_SignWithKey and ParsingSeal_ForVerify, with
// the arguments, results and traces of the exports (sealform.h).
char* parse_seal(const unsigned char* seal, int* length);
int parse_seal_with_key(const unsigned char* seal, int seal_length, char* xml, int* xml_length);
int parse_for_verify(const unsigned char* seal, int seal_length, unsigned char* info,
                     int* info_length, unsigned char* cert, int* cert_length, unsigned char* sign,
                     int* sign_length);

}  // namespace sealform
