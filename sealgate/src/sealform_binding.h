// Sealform as Sealgate uses it: loaded by its file name "Sealform.dll" for the seal parsing of
// each call (and unloaded again), or kept loaded for the verification entry point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sealgate {

// Capacity of the seal description buffer Sealform writes into.
constexpr size_t kSealInfoXmlCapacity = 20480;

// Results of parse_seal_with_key.
enum SealformResult : int {
    kSealformOk = 0,
    kSealformNotLoaded = 1,
    kSealformNoExport = 2,
    kSealformFailed = 3,  // not a seal, or the description exceeds the capacity
};

// ParsingSeal_SignWithKey over `der` into a buffer of `capacity` bytes (its capacity told to
// Sealform, so nothing is ever written past it). On 0 `xml` holds the description (ANSI).
int parse_seal_with_key(const std::vector<uint8_t>& der, std::string& xml,
                        size_t capacity = kSealInfoXmlCapacity);

}  // namespace sealgate
