// Sealform as Sealgate uses it: loaded by its file name "Sealform.dll" for the seal parsing of
// each call (and unloaded again), or kept loaded for the verification entry point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kit/kept.h"

namespace sealgate {

// Results of parse_seal_with_key.
enum SealformResult : int {
    kSealformOk = 0,
    kSealformNotLoaded = 1,
    kSealformNoExport = 2,
    kSealformFailed = 3,  // not a seal
};

// The buffer the description of a seal of `der_size` bytes is first given: enough for every
// seal Sealform makes, so the second call of parse_seal_with_key is rare.
size_t description_size_guess(size_t der_size);

// ParsingSeal_SignWithKey over `der`, into buffers of the size Sealform reports, however large
// the seal: its capacity is always told, so nothing is written past it. On 0 `xml` holds the
// description (ANSI); its capacity is reused.
int parse_seal_with_key(const uint8_t* der, size_t der_size, kit::RawChars& xml);
int parse_seal_with_key(const std::vector<uint8_t>& der, std::string& xml);

}  // namespace sealgate
