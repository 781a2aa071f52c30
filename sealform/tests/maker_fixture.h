// Material for making seals in tests and benchmarks: a seal maker's SM2 key, certificate and
// PFX, holder certificates, pictures, and "sealparams" documents built from them. Everything
// is generated at run time.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "testpki.h"

namespace sealform::testing {

using Bytes = std::vector<uint8_t>;

struct MakerMaterial {
    testpki::Pkey maker_key;
    Bytes maker_cert;  // DER
    std::string password = "Pfx#Secret-7731";
    Bytes pfx;
    std::vector<Bytes> holder_certs;  // three SM2 holder certificates

    // Generated once per process.
    static const MakerMaterial& shared();
};

// A PFX holding an RSA key and certificate, for the signer's refusal of non-SM2 keys.
Bytes rsa_pfx(const std::string& password);

// The values of a "sealparams" document, as text. An entry of `omit` leaves that element out.
struct SealParams {
    std::map<std::string, std::string> values;
    std::vector<std::string> certs;  // Base64 texts of the certlist's cert children
    std::vector<std::string> omit;

    // Defaults: every element present, the maker material's PFX and password, the first
    // holder certificate, a small BMP picture, the name in the ANSI code page (GBK).
    static SealParams standard(const MakerMaterial& material);
    std::string xml() const;
};

// An uncompressed 24-bit BMP of the given size.
Bytes bmp_picture(int width, int height);

// The seal name used by SealParams::standard, in GBK and in UTF-8.
extern const char kNameGbk[];
extern const char kNameUtf8[];

}  // namespace sealform::testing
