#include "testpki.h"

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/pkcs12.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <stdexcept>

#include "sm2_raw.h"

namespace testpki {
namespace {

constexpr char kDefaultSm2Id[] = "1234567812345678";

[[noreturn]] void fail(const char* what) {
    throw std::runtime_error(std::string("testpki: ") + what);
}

bool is_sm2(EVP_PKEY* key) { return EVP_PKEY_is_a(key, "SM2"); }

struct MdCtxFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

// A digest-sign or digest-verify context; SM2 keys get SM3 and the default user id (set on
// the context's own key context after init, before any data is digested).
MdCtx digest_context(EVP_PKEY* key, bool sign) {
    MdCtx ctx(EVP_MD_CTX_new());
    EVP_PKEY_CTX* pctx = nullptr;
    const EVP_MD* md = is_sm2(key) ? EVP_sm3() : EVP_sha256();
    int ok = sign ? EVP_DigestSignInit(ctx.get(), &pctx, md, nullptr, key)
                  : EVP_DigestVerifyInit(ctx.get(), &pctx, md, nullptr, key);
    if (ok <= 0) fail("digest init");
    if (is_sm2(key) && EVP_PKEY_CTX_set1_id(pctx, kDefaultSm2Id, sizeof kDefaultSm2Id - 1) <= 0)
        fail("sm2 id");
    return ctx;
}

}  // namespace

Pkey make_sm2_key() {
    Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"));
    if (!key) fail("sm2 keygen");
    return key;
}

Pkey make_rsa_key(int bits) {
    Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)));
    if (!key) fail("rsa keygen");
    return key;
}

Cert make_certificate(EVP_PKEY* subject_key, const CertSpec& spec, EVP_PKEY* issuer_key,
                      X509* issuer) {
    Cert cert(X509_new());
    X509* x = cert.get();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), spec.serial);
    X509_gmtime_adj(X509_getm_notBefore(x), spec.not_before_days * 86400L);
    X509_gmtime_adj(X509_getm_notAfter(x), spec.not_after_days * 86400L);
    X509_set_pubkey(x, subject_key);
    X509_NAME* name = X509_get_subject_name(x);
    auto add = [&](const char* field, const std::string& value) {
        if (!value.empty())
            X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(value.c_str()), -1,
                                       -1, 0);
    };
    add("C", spec.country);
    add("O", spec.organization);
    add("CN", spec.common_name);
    X509_set_issuer_name(x, issuer ? X509_get_subject_name(issuer) : name);

    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, issuer ? issuer : x, x, nullptr, nullptr, 0);
    const char* usage = spec.signing_only
                            ? "critical,digitalSignature,nonRepudiation"
                            : "critical,digitalSignature,nonRepudiation,keyEncipherment";
    if (X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &v3, NID_key_usage, usage)) {
        X509_add_ext(x, ext, -1);
        X509_EXTENSION_free(ext);
    }

    EVP_PKEY* signer = issuer_key ? issuer_key : subject_key;
    MdCtx ctx = digest_context(signer, true);
    if (X509_sign_ctx(x, ctx.get()) <= 0) fail("certificate signature");
    return cert;
}

Bytes cert_der(X509* cert) {
    int n = i2d_X509(cert, nullptr);
    if (n <= 0) fail("certificate encoding");
    Bytes out(static_cast<size_t>(n));
    unsigned char* p = out.data();
    i2d_X509(cert, &p);
    return out;
}

Cert cert_from_der(const Bytes& der) {
    const unsigned char* p = der.data();
    return Cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
}

Bytes private_key_der(EVP_PKEY* key) {
    PKCS8_PRIV_KEY_INFO* p8 = EVP_PKEY2PKCS8(key);
    if (!p8) fail("private key encoding");
    int n = i2d_PKCS8_PRIV_KEY_INFO(p8, nullptr);
    Bytes out(static_cast<size_t>(n));
    unsigned char* p = out.data();
    i2d_PKCS8_PRIV_KEY_INFO(p8, &p);
    PKCS8_PRIV_KEY_INFO_free(p8);
    return out;
}

Pkey private_key_from_der(const Bytes& der) {
    const unsigned char* p = der.data();
    PKCS8_PRIV_KEY_INFO* p8 = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der.size()));
    if (!p8) return nullptr;
    Pkey key(EVP_PKCS82PKEY(p8));
    PKCS8_PRIV_KEY_INFO_free(p8);
    return key;
}

Bytes public_key_der(EVP_PKEY* key) {
    int n = i2d_PUBKEY(key, nullptr);
    if (n <= 0) fail("public key encoding");
    Bytes out(static_cast<size_t>(n));
    unsigned char* p = out.data();
    i2d_PUBKEY(key, &p);
    return out;
}

Bytes sm2_private_scalar(EVP_PKEY* key) {
    BIGNUM* d = nullptr;
    if (!EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &d)) fail("sm2 private scalar");
    Bytes out(32);
    BN_bn2binpad(d, out.data(), 32);
    BN_clear_free(d);
    return out;
}

Bytes sm2_public_point(EVP_PKEY* key) {
    Bytes out(65);
    size_t len = 0;
    if (!EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, out.data(), out.size(),
                                         &len))
        fail("sm2 public point");
    out.resize(len);
    return out;
}

Bytes make_pfx(EVP_PKEY* key, X509* cert, const std::string& password,
               const std::string& friendly_name) {
    PKCS12* p12 =
        PKCS12_create(password.c_str(), friendly_name.c_str(), key, cert, nullptr, 0, 0, 0, 0, 0);
    if (!p12) fail("pkcs12");
    int n = i2d_PKCS12(p12, nullptr);
    Bytes out(static_cast<size_t>(n));
    unsigned char* p = out.data();
    i2d_PKCS12(p12, &p);
    PKCS12_free(p12);
    return out;
}

Bytes sm2_sign_raw(EVP_PKEY* key, const Bytes& data) {
    Bytes out;
    if (!devkit::sm2::sign(key, data.data(), data.size(), out)) fail("sm2 signature");
    return out;
}

Bytes bmp_picture(int width, int height, int bits_per_pixel, size_t padding) {
    const bool mono = bits_per_pixel == 1;
    const uint32_t row = mono ? static_cast<uint32_t>(((width + 31) / 32) * 4)
                              : static_cast<uint32_t>((width * 3 + 3) & ~3);
    const uint32_t pixels = row * static_cast<uint32_t>(height);
    const uint32_t offset = mono ? 14 + 40 + 8 : 14 + 40;
    Bytes out(offset + pixels + padding, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, static_cast<uint32_t>(out.size()));
    put32(10, offset);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    out[26] = 1;  // planes
    out[28] = mono ? 1 : 24;
    put32(34, pixels);
    if (mono) {
        put32(46, 2);           // colours used
        put32(58, 0x00FFFFFF);  // palette: black, white
        for (size_t i = 0; i < pixels; ++i) out[offset + i] = static_cast<uint8_t>(0x55 << (i % 2));
    } else {
        put32(38, 3780);  // 96 dpi in pixels per metre
        put32(42, 3780);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                size_t at = offset + static_cast<size_t>(y) * row + static_cast<size_t>(x) * 3;
                bool ring = (x + y) % 7 == 0;
                out[at] = ring ? 0x20 : 0xFF;      // blue
                out[at + 1] = ring ? 0x20 : 0xFF;  // green
                out[at + 2] = 0xFF;                // red
            }
    }
    for (size_t i = 0; i < padding; ++i) out[offset + pixels + i] = static_cast<uint8_t>(i * 31);
    return out;
}

Bytes der_first_element(const Bytes& der) {
    const unsigned char* p = der.data();
    const unsigned char* const end = der.data() + der.size();
    long length = 0;
    int tag = 0, cls = 0;
    if ((ASN1_get_object(&p, &length, &tag, &cls, static_cast<long>(der.size())) & 0x80) ||
        tag != V_ASN1_SEQUENCE || p >= end)
        return {};
    const unsigned char* const start = p;
    if (ASN1_get_object(&p, &length, &tag, &cls, static_cast<long>(end - p)) & 0x80) return {};
    return Bytes(start, p + length);
}

bool sm2_verify_raw(EVP_PKEY* key, const Bytes& data, const Bytes& signature) {
    return devkit::sm2::verify(key, data.data(), data.size(), signature.data(), signature.size());
}

bool write_file(const std::string& path, const Bytes& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return (std::fclose(f) == 0) && ok;
}

}  // namespace testpki
