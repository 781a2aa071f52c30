// Signature checking with a certificate on OpenSSL: SM2 with SM3 and the default user id.
#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>
#include <vector>

#include "certificatesdk.h"

namespace {

constexpr char kDefaultSm2Id[] = "1234567812345678";
constexpr int kSm2HalfSize = 32;

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using SigPtr = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG, ECDSA_SIG_free>>;

bool is_sm2(EVP_PKEY* key) {
    if (EVP_PKEY_is_a(key, "SM2")) return true;
    char group[64] = {};
    size_t len = 0;
    return EVP_PKEY_is_a(key, "EC") && EVP_PKEY_get_group_name(key, group, sizeof group, &len) &&
           std::strcmp(group, "SM2") == 0;
}

// r || s as the DER ECDSA-Sig that OpenSSL verifies.
bool der_signature(const unsigned char* raw, std::vector<uint8_t>& out) {
    SigPtr sig(ECDSA_SIG_new());
    if (!sig) return false;
    BIGNUM* r = BN_bin2bn(raw, kSm2HalfSize, nullptr);
    BIGNUM* s = BN_bin2bn(raw + kSm2HalfSize, kSm2HalfSize, nullptr);
    if (!r || !s || !ECDSA_SIG_set0(sig.get(), r, s)) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    int n = i2d_ECDSA_SIG(sig.get(), nullptr);
    if (n <= 0) return false;
    out.resize(static_cast<size_t>(n));
    unsigned char* p = out.data();
    return i2d_ECDSA_SIG(sig.get(), &p) == n;
}

int verify(CERTIFICATESDK_CERT context, const unsigned char* data, int data_length,
           const unsigned char* signature, int signature_length) {
    if (!context || !context->pbCertEncoded || (!data && data_length != 0) || data_length < 0 ||
        !signature || signature_length < 0)
        return CERTIFICATESDK_BAD_ARGUMENT;
    const unsigned char* p = context->pbCertEncoded;
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(context->cbCertEncoded)));
    if (!cert) return CERTIFICATESDK_BAD_CERT;
    EVP_PKEY* key = X509_get0_pubkey(cert.get());
    if (!key || !is_sm2(key)) return CERTIFICATESDK_NOT_SM2;
    std::vector<uint8_t> der;
    if (signature_length != 2 * kSm2HalfSize || !der_signature(signature, der))
        return CERTIFICATESDK_BAD_SIGNATURE;
    MdCtxPtr ctx(EVP_MD_CTX_new());
    EVP_PKEY_CTX* pctx = nullptr;
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), &pctx, EVP_sm3(), nullptr, key) <= 0 ||
        EVP_PKEY_CTX_set1_id(pctx, kDefaultSm2Id, sizeof kDefaultSm2Id - 1) <= 0)
        return CERTIFICATESDK_INVALID;
    static const unsigned char kNothing = 0;
    int ok = EVP_DigestVerify(ctx.get(), der.data(), der.size(), data ? data : &kNothing,
                              static_cast<size_t>(data_length));
    return ok == 1 ? CERTIFICATESDK_VALID : CERTIFICATESDK_INVALID;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int SKFVerifyData(
    CERTIFICATESDK_CERT cert, const unsigned char* data, int data_length,
    const unsigned char* signature, int signature_length) {
    int result = verify(cert, data, data_length, signature, signature_length);
    ERR_clear_error();
    return result;
}
