// A seal described as XML: the "sealinfos" document of ParsingSeal and the "sealinfo" document
// of ParsingSeal_SignWithKey, both from one table of elements.
#pragma once

#include <cstddef>
#include <string>

#include "seal_codec.h"

namespace sealform {

enum class SealView {
    kSealinfos,  // ParsingSeal: header, properties, holder certificates, picture
    kSealinfo,   // ParsingSeal_SignWithKey: the same with other names, the name in the ANSI
                 // code page, the signature and the maker's certificate
};

// A seal's description in the library's XML text form, counted when made and written on
// demand: a caller sizes its block once and the text is written once into it, with nothing
// zero-filled or copied on the way. Making the "sealinfo" view traces its steps
// ("ParsingSeal...1.1", the name, "ParsingSeal...1.2" and
// "ParsingSeal_SignWithKey------------------2" to "...5"); writing traces nothing.
class SealDescription {
  public:
    // The seal must outlive the description.
    SealDescription(const SESeal_t& seal, SealView view);
    size_t size() const { return size_; }
    // Writes exactly size() bytes (no terminator).
    void write(char* out) const;

  private:
    template <class Writer>
    void emit(Writer& out, bool trace_steps) const;

    const SESeal_t& seal_;
    SealView view_;
    std::string ansi_name_;
    size_t size_ = 0;
};

// The description as a string.
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
