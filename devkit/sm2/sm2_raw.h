// SM2 signatures as the key world exchanges them: SM3 digest with the default user id
// "1234567812345678", the signature as the 64-byte r || s pair rather than a DER ECDSA-Sig.
// Shared by the devkit's stand-ins (signer, certificate SDK, key driver) and the test tools.
#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace devkit::sm2 {

constexpr char kDefaultUserId[] = "1234567812345678";
constexpr size_t kSignatureSize = 64;

// True for an SM2 key, also one that OpenSSL holds as an EC key on the SM2 curve.
bool is_sm2(EVP_PKEY* key);

// Signs `size` bytes; false on any failure (`out` is then empty).
bool sign(EVP_PKEY* key, const uint8_t* data, size_t size, std::vector<uint8_t>& out);

// True when `signature` (r || s, 64 bytes) is valid for the data under `key`'s public key.
bool verify(EVP_PKEY* key, const uint8_t* data, size_t size, const uint8_t* signature,
            size_t signature_size);

}  // namespace devkit::sm2
