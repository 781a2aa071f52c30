// Builds seals for tests and benchmarks through the library's own encoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "seal_codec.h"

namespace sealform::testing {

struct SealSpec {
    std::string header_id = "ES";
    long version = 4;
    std::string vid = "RZ";
    std::string seal_id = "3201000000001";
    long type = 1;
    std::string name = "\xE6\xB5\x8B\xE8\xAF\x95\xE5\x8D\xB0\xE7\xAB\xA0";  // UTF-8 seal name
    long cert_list_type = 1;
    std::vector<std::vector<uint8_t>> holder_certs;
    std::string create_date = "20210513100248";
    std::string valid_start = "20210513100248";
    std::string valid_end = "20310513100248";
    std::string picture_type = "png";
    std::vector<uint8_t> picture{0x89, 'P', 'N', 'G'};
    long width = 40;
    long height = 40;
    bool with_ext_data = true;
    std::vector<uint8_t> maker_cert{0x30, 0x03, 0x02, 0x01, 0x01};
    std::vector<uint8_t> signature = std::vector<uint8_t>(64, 0xA5);
};

// A SESeal value filled from the description (freed by the SealPtr).
SealPtr build_seal(const SealSpec& spec);

// Its DER encoding; empty when encoding fails.
std::vector<uint8_t> encode_seal(const SealSpec& spec);

// Runs with the process time zone set to a POSIX TZ string (no zone database needed) and
// restores the previous one.
class TimeZone {
  public:
    explicit TimeZone(const char* tz);
    ~TimeZone();
    TimeZone(const TimeZone&) = delete;
    TimeZone& operator=(const TimeZone&) = delete;

  private:
    bool had_ = false;
    std::string old_;
};

}  // namespace sealform::testing
