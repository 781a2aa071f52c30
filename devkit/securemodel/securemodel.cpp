// SecureModelCollection.dll stand-in: SM4-CBC file encryption on OpenSSL (format in the header).
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "kit/platform.h"
#include "kit/secure.h"
#include "securemodelcollection.h"

#define SECUREMODEL_EXPORT extern "C" KIT_EXPORT

namespace {

using Bytes = std::vector<uint8_t>;
constexpr char kMagic[4] = {'S', 'M', 'C', '1'};
constexpr size_t kBlock = 16;

struct CipherFree {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

bool valid_arguments(const char* source, const char* target, int algorithm, const char* key,
                     int flags) {
    return source && *source && target && *target && key && *key &&
           algorithm == SECUREMODEL_SM4_CBC && flags == 0;
}

// The cipher key: the first 16 bytes of SM3 over the key text.
bool derive_key(const char* text, unsigned char key[kBlock]) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!EVP_Digest(text, std::strlen(text), digest, &size, EVP_sm3(), nullptr) || size < kBlock)
        return false;
    std::memcpy(key, digest, kBlock);
    OPENSSL_cleanse(digest, sizeof digest);
    return true;
}

// The plain text travels with its SM3 digest appended, so a wrong key or a changed file is
// told apart from a right one instead of yielding garbage whose padding happens to fit.
bool digest_of(const uint8_t* data, size_t size, unsigned char out[32]) {
    unsigned int n = 0;
    return EVP_Digest(data, size, out, &n, EVP_sm3(), nullptr) && n == 32;
}

// Both directions write into self-wiping buffers: one side of the cipher is always plain text.
bool run_cipher(bool encrypt, const unsigned char* key, const unsigned char* iv, const uint8_t* in,
                size_t size, kit::SecureBytes& out) {
    std::unique_ptr<EVP_CIPHER_CTX, CipherFree> ctx(EVP_CIPHER_CTX_new());
    if (!ctx || size > static_cast<size_t>(INT32_MAX - 2 * kBlock)) return false;
    if (!EVP_CipherInit_ex(ctx.get(), EVP_sm4_cbc(), nullptr, key, iv, encrypt ? 1 : 0))
        return false;
    out.assign(size + kBlock, 0);
    int n = 0, tail = 0;
    if (!EVP_CipherUpdate(ctx.get(), out.data(), &n, in, static_cast<int>(size)) ||
        !EVP_CipherFinal_ex(ctx.get(), out.data() + n, &tail)) {
        OPENSSL_cleanse(out.data(), out.size());
        out.clear();
        return false;
    }
    out.resize(static_cast<size_t>(n + tail));
    return true;
}

// Writes the result; a partly written target is removed again.
int write_target(const char* target, const uint8_t* data, size_t size) {
    if (kit::write_secret_file(target, data, size)) return SECUREMODEL_OK;
    kit::remove_file(target);
    return SECUREMODEL_CANNOT_WRITE;
}

}  // namespace

SECUREMODEL_EXPORT int VENDOR_CALL SymmetryEncryption_File(const char* source, const char* target,
                                                           int algorithm, const char* key,
                                                           int flags) {
    try {
        if (!valid_arguments(source, target, algorithm, key, flags))
            return SECUREMODEL_BAD_ARGUMENT;
        kit::SecureBytes plain;
        if (!kit::read_secret_file(source, plain)) return SECUREMODEL_CANNOT_READ;
        unsigned char k[kBlock], iv[kBlock];
        if (!derive_key(key, k) || RAND_bytes(iv, sizeof iv) != 1) return SECUREMODEL_BAD_ARGUMENT;
        unsigned char check[32];
        if (!digest_of(plain.data(), plain.size(), check)) return SECUREMODEL_BAD_ARGUMENT;
        plain.reserve(plain.size() + sizeof check);
        plain.insert(plain.end(), check, check + sizeof check);
        kit::SecureBytes cipher;
        bool ok = run_cipher(true, k, iv, plain.data(), plain.size(), cipher);
        OPENSSL_cleanse(k, sizeof k);
        OPENSSL_cleanse(plain.data(), plain.size());
        if (!ok) return SECUREMODEL_BAD_ARGUMENT;
        Bytes file;
        file.reserve(sizeof kMagic + sizeof iv + cipher.size());
        file.insert(file.end(), kMagic, kMagic + sizeof kMagic);
        file.insert(file.end(), iv, iv + sizeof iv);
        file.insert(file.end(), cipher.begin(), cipher.end());
        return write_target(target, file.data(), file.size());
    } catch (...) {
        return SECUREMODEL_BAD_ARGUMENT;
    }
}

SECUREMODEL_EXPORT int VENDOR_CALL SymmetryDecryption_File(const char* source, const char* target,
                                                           int algorithm, const char* key,
                                                           int flags) {
    try {
        if (!valid_arguments(source, target, algorithm, key, flags))
            return SECUREMODEL_BAD_ARGUMENT;
        Bytes file;
        if (!kit::read_whole_file(source, file)) return SECUREMODEL_CANNOT_READ;
        const size_t head = sizeof kMagic + kBlock;
        if (file.size() < head + kBlock || (file.size() - head) % kBlock != 0 ||
            std::memcmp(file.data(), kMagic, sizeof kMagic) != 0)
            return SECUREMODEL_NOT_SEALED;
        unsigned char k[kBlock];
        if (!derive_key(key, k)) return SECUREMODEL_BAD_ARGUMENT;
        kit::SecureBytes plain;
        bool ok = run_cipher(false, k, file.data() + sizeof kMagic, file.data() + head,
                             file.size() - head, plain);
        OPENSSL_cleanse(k, sizeof k);
        unsigned char check[32];
        if (ok) {
            ok = plain.size() >= sizeof check &&
                 digest_of(plain.data(), plain.size() - sizeof check, check) &&
                 std::memcmp(check, plain.data() + plain.size() - sizeof check, sizeof check) == 0;
            if (!ok) OPENSSL_cleanse(plain.data(), plain.size());
        }
        if (!ok) return SECUREMODEL_WRONG_KEY;
        plain.resize(plain.size() - sizeof check);
        int rc = write_target(target, plain.data(), plain.size());
        OPENSSL_cleanse(plain.data(), plain.size());
        return rc;
    } catch (...) {
        return SECUREMODEL_BAD_ARGUMENT;
    }
}
