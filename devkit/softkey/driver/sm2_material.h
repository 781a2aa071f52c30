// SM2 key material in the forms the key driver meets: PKCS#8 DER from the store, raw numbers in
// a signing request.
#pragma once

#include <openssl/evp.h>

#include <string_view>

#include "kit/secure.h"
#include "testpki.h"

namespace ukeydriver {

// A number given as hex digits or as Base64 of its big-endian bytes, as 32 bytes; false when the
// text is neither or the number does not fit.
bool decode_number(std::string_view text, kit::SecureBytes& out32);

// The SM2 key pair of a private scalar; null when the scalar is not a valid key.
testpki::Pkey sm2_key_from_scalar(const kit::SecureBytes& scalar32);

}  // namespace ukeydriver
