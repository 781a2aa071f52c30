// Test keys and certificates made at run time on OpenSSL: SM2 and RSA key pairs, X.509
// certificates (self-signed or issued by a given key), PKCS#12 files. Nothing here is ever
// committed as a file; tests, the demo and the softkey tool generate what they need.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testpki {

struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct X509Free {
    void operator()(X509* c) const { X509_free(c); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Cert = std::unique_ptr<X509, X509Free>;
using Bytes = std::vector<uint8_t>;

Pkey make_sm2_key();
Pkey make_rsa_key(int bits = 2048);

struct CertSpec {
    std::string common_name = "Test Holder";  // UTF-8
    std::string organization = "Kit Test";
    std::string country = "CN";
    long serial = 1;
    long not_before_days = -1;  // relative to now
    long not_after_days = 365;
    bool signing_only = false;  // key usage: digitalSignature + nonRepudiation only
};

// A certificate for `subject_key`, signed by `issuer_key` (itself when null; SM2 keys sign
// with SM3 and the default user id, RSA keys with SHA-256). `issuer` names the issuer; null
// makes it self-issued.
Cert make_certificate(EVP_PKEY* subject_key, const CertSpec& spec, EVP_PKEY* issuer_key = nullptr,
                      X509* issuer = nullptr);

Bytes cert_der(X509* cert);
Cert cert_from_der(const Bytes& der);
Bytes private_key_der(EVP_PKEY* key);  // PKCS#8, unencrypted
Pkey private_key_from_der(const Bytes& der);
Bytes public_key_der(EVP_PKEY* key);  // SubjectPublicKeyInfo
// The raw 32-byte private scalar of an SM2 key and the 65-byte uncompressed public point.
Bytes sm2_private_scalar(EVP_PKEY* key);
Bytes sm2_public_point(EVP_PKEY* key);

// PKCS#12 holding the key and certificate under `password`.
Bytes make_pfx(EVP_PKEY* key, X509* cert, const std::string& password,
               const std::string& friendly_name = "seal maker");

// SM2-with-SM3 signature with the default user id "1234567812345678", as the 64-byte r||s pair.
Bytes sm2_sign_raw(EVP_PKEY* key, const Bytes& data);
// Verifies a 64-byte r||s signature made as above with the public key of `cert` or `key`.
bool sm2_verify_raw(EVP_PKEY* key, const Bytes& data, const Bytes& signature);

// The first element inside a DER SEQUENCE exactly as stored (tag, length and contents), read with
// OpenSSL's DER reader; empty when `der` is no SEQUENCE holding an element.
Bytes der_first_element(const Bytes& der);

// An uncompressed BMP picture of the given size: 24 bits per pixel at 96 dpi (a red ring
// pattern), or 1 bit per pixel with a two-colour palette and `padding` extra bytes after the
// pixels (small pictures, and larger files of the same size in pixels).
Bytes bmp_picture(int width, int height, int bits_per_pixel = 24, size_t padding = 0);

// Writes bytes to a file; true on success.
bool write_file(const std::string& path, const Bytes& data);

}  // namespace testpki
