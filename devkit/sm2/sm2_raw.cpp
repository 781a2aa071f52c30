#include "sm2_raw.h"

#include <openssl/bn.h>
#include <openssl/ecdsa.h>

#include <cstring>
#include <memory>

namespace devkit::sm2 {
namespace {

constexpr int kHalf = 32;

struct MdCtxFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct SigFree {
    void operator()(ECDSA_SIG* s) const { ECDSA_SIG_free(s); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
using Sig = std::unique_ptr<ECDSA_SIG, SigFree>;

// A digest context with SM3; the user id is set on its own key context after init, before any
// data is digested.
MdCtx digest_context(EVP_PKEY* key, bool for_signing) {
    MdCtx ctx(EVP_MD_CTX_new());
    EVP_PKEY_CTX* pctx = nullptr;
    if (!ctx) return nullptr;
    int ok = for_signing ? EVP_DigestSignInit(ctx.get(), &pctx, EVP_sm3(), nullptr, key)
                         : EVP_DigestVerifyInit(ctx.get(), &pctx, EVP_sm3(), nullptr, key);
    if (ok <= 0 || EVP_PKEY_CTX_set1_id(pctx, kDefaultUserId, sizeof kDefaultUserId - 1) <= 0)
        return nullptr;
    return ctx;
}

const uint8_t kNothing = 0;

}  // namespace

bool is_sm2(EVP_PKEY* key) {
    if (!key) return false;
    if (EVP_PKEY_is_a(key, "SM2")) return true;
    char group[64] = {};
    size_t len = 0;
    return EVP_PKEY_is_a(key, "EC") && EVP_PKEY_get_group_name(key, group, sizeof group, &len) &&
           std::strcmp(group, "SM2") == 0;
}

bool sign(EVP_PKEY* key, const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    out.clear();
    MdCtx ctx = digest_context(key, true);
    if (!ctx) return false;
    if (!data) data = &kNothing;
    size_t len = 0;
    if (EVP_DigestSign(ctx.get(), nullptr, &len, data, size) <= 0) return false;
    std::vector<uint8_t> der(len);
    if (EVP_DigestSign(ctx.get(), der.data(), &len, data, size) <= 0) return false;
    const unsigned char* p = der.data();
    Sig sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(len)));
    if (!sig) return false;
    std::vector<uint8_t> raw(kSignatureSize);
    if (BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), raw.data(), kHalf) < 0 ||
        BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), raw.data() + kHalf, kHalf) < 0)
        return false;
    out.swap(raw);
    return true;
}

bool verify(EVP_PKEY* key, const uint8_t* data, size_t size, const uint8_t* signature,
            size_t signature_size) {
    if (!signature || signature_size != kSignatureSize) return false;
    Sig sig(ECDSA_SIG_new());
    if (!sig) return false;
    BIGNUM* r = BN_bin2bn(signature, kHalf, nullptr);
    BIGNUM* s = BN_bin2bn(signature + kHalf, kHalf, nullptr);
    if (!r || !s || !ECDSA_SIG_set0(sig.get(), r, s)) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    int n = i2d_ECDSA_SIG(sig.get(), nullptr);
    if (n <= 0) return false;
    std::vector<uint8_t> der(static_cast<size_t>(n));
    unsigned char* p = der.data();
    if (i2d_ECDSA_SIG(sig.get(), &p) != n) return false;
    MdCtx ctx = digest_context(key, false);
    if (!ctx) return false;
    return EVP_DigestVerify(ctx.get(), der.data(), der.size(), data ? data : &kNothing, size) == 1;
}

}  // namespace devkit::sm2
