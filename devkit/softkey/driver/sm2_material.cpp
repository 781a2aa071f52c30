#include "sm2_material.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>

#include <cctype>
#include <memory>

#include "kit/base64.h"

namespace ukeydriver {

bool decode_number(std::string_view text, kit::SecureBytes& out32) {
    // The numbers are private keys: every buffer they pass through wipes itself.
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    if (text.empty()) return false;
    bool hex = text.size() % 2 == 0;
    for (char c : text) hex = hex && std::isxdigit(static_cast<unsigned char>(c));
    kit::SecureBytes bytes;
    if (hex) {
        auto nibble = [](char c) { return uint8_t(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10); };
        bytes.reserve(text.size() / 2);
        for (size_t i = 0; i < text.size(); i += 2)
            bytes.push_back(uint8_t(nibble(text[i]) << 4 | nibble(text[i + 1])));
    } else {
        kit::base64_decode_into(text, bytes);
    }
    // Leading zero bytes carry nothing (some writers pad numbers to 64 bytes).
    size_t skip = 0;
    while (skip < bytes.size() && bytes[skip] == 0) ++skip;
    if (bytes.size() - skip > 32 || skip == bytes.size()) return false;
    kit::SecureBytes number;
    number.reserve(32);
    number.assign(32 - (bytes.size() - skip), 0);
    number.insert(number.end(), bytes.begin() + long(skip), bytes.end());
    out32.swap(number);
    return true;
}

testpki::Pkey sm2_key_from_scalar(const kit::SecureBytes& scalar32) {
    if (scalar32.size() != 32) return nullptr;
    // A secure BIGNUM: OpenSSL clears it, and the parameters built from it, when freeing.
    std::unique_ptr<BIGNUM, decltype(&BN_clear_free)> priv(BN_secure_new(), BN_clear_free);
    if (priv && !BN_bin2bn(scalar32.data(), 32, priv.get())) priv.reset();
    std::unique_ptr<EC_GROUP, decltype(&EC_GROUP_free)> group(EC_GROUP_new_by_curve_name(NID_sm2),
                                                              EC_GROUP_free);
    if (!priv || !group || BN_is_zero(priv.get()) ||
        BN_cmp(priv.get(), EC_GROUP_get0_order(group.get())) >= 0)
        return nullptr;
    std::unique_ptr<EC_POINT, decltype(&EC_POINT_free)> pub(EC_POINT_new(group.get()),
                                                            EC_POINT_free);
    unsigned char point[65];
    if (!pub || !EC_POINT_mul(group.get(), pub.get(), priv.get(), nullptr, nullptr, nullptr) ||
        EC_POINT_point2oct(group.get(), pub.get(), POINT_CONVERSION_UNCOMPRESSED, point,
                           sizeof point, nullptr) != sizeof point)
        return nullptr;

    std::unique_ptr<OSSL_PARAM_BLD, decltype(&OSSL_PARAM_BLD_free)> bld(OSSL_PARAM_BLD_new(),
                                                                        OSSL_PARAM_BLD_free);
    if (!bld || !OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0) ||
        !OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PRIV_KEY, priv.get()) ||
        !OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point))
        return nullptr;
    std::unique_ptr<OSSL_PARAM, decltype(&OSSL_PARAM_free)> params(
        OSSL_PARAM_BLD_to_param(bld.get()), OSSL_PARAM_free);
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr), EVP_PKEY_CTX_free);
    EVP_PKEY* key = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) <= 0 ||
        EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_KEYPAIR, params.get()) <= 0)
        return nullptr;
    return testpki::Pkey(key);
}

}  // namespace ukeydriver
