// The seal record of GetSealInfo mode 0 and the pieces it is made from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kit/kept.h"

namespace sealgate {

// Layout of the record: fixed fields, then the picture, then four zero bytes.
constexpr size_t kRecordFixedBytes = 264;
constexpr size_t kRecordOverhead = 268;
constexpr size_t kRecordTextField = 64;
constexpr size_t kRecordTimeField = 24;
constexpr size_t kRecordValidTo = 240;

// "YYYYMMDDhhmmss..." -> "YYYY/MM/DD hh:mm:ss"; parts missing from a shorter text stay empty.
std::string reformat_validity(const std::string& text);

// The subject of a certificate (Base64 of its DER) rendered as an X.500 name string in the
// ANSI code page: RDNs in encoded order joined by ", ", CN=, O=, OU=, C=... keys, values quoted
// when they hold special characters. 0 done, 1 the certificate does not decode, 2 its subject
// is empty.
int _GetDN(const std::string& cert_base64, std::string& name);

// The holder name from a subject string: what follows the first "CN=" (the whole string when
// there is none).
std::string holder_from_subject(const std::string& subject);

// Text cut to at most `max_bytes` bytes without splitting a double-byte character of the ANSI
// code page.
std::string cut_text(const std::string& ansi, size_t max_bytes);

// A picture's size in hundredths of a millimetre on the screen, measured from its bytes; 0
// measured, 0xA000001 not a picture that can be measured (outputs untouched).
uint32_t GetImgInfo(const std::vector<uint8_t>& picture, double* width, double* height);

// A width or height for the record's 32-bit field: whole hundredths of a millimetre, 0 for
// nothing measured, INT32_MAX for anything larger than the field holds.
int32_t record_measure(double hundredths_mm);

uint32_t GetImgInfo(const uint8_t* picture, size_t size, double* width, double* height);

// The record of a "sealinfo" description (ANSI text), prepared first (its size is known
// before a byte is written) and then written once wherever it goes.
class SealRecord {
  public:
    // Reads the description and decodes the picture into `picture` (which must outlive the
    // record), tracing the steps up to "3.3". False when the description is not well-formed or
    // the holder certificate yields no name; the trace shows the step.
    bool prepare(std::string_view sealinfo_xml, kit::RawBytes& picture);
    size_t size() const { return picture_size_ + kRecordOverhead; }
    // Writes size() bytes.
    void write(uint8_t* out) const;

  private:
    std::string version_, type_, seal_name_, valid_from_, valid_to_, holder_;
    double width_ = 0, height_ = 0;
    const uint8_t* picture_ = nullptr;
    size_t picture_size_ = 0;
};

// The record built from a description into `record`.
bool build_seal_record(const std::string& sealinfo_xml, std::vector<uint8_t>& record);

// The buffers one seal read works in, kept between reads (kit::KeptObjects, at most
// kKeptReadWork sets): a host that reads the same seals again and again takes no new memory for
// them. Each buffer is kept only while it holds at most kKeptBufferBytes, so what stays kept is
// at most 2 x 4 x 128 KB = 1 MB (about 180 KB for a reader of seals with 50 KB pictures);
// larger buffers (a seal with a picture of more than about 90 KB) are given back to the system
// when the read ends.
constexpr size_t kKeptBufferBytes = 128 * 1024;
constexpr size_t kKeptReadWork = 2;
struct SealReadWork {
    kit::RawBytes der;      // the seal's DER
    kit::RawChars xml;      // its description
    kit::RawBytes picture;  // the record's picture
    kit::RawBytes text;     // the result of modes 1 and 2
    void trim();
};

// The seal code ("sealinfo\esid", ANSI) of a description, byte for byte as the seal stores
// it; false when not well-formed or when the code holds a control character (which the
// description can only carry altered).
bool seal_code_of(std::string_view sealinfo_xml, std::string& code);

}  // namespace sealgate
