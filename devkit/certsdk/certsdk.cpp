// Signature checking with a certificate on OpenSSL: SM2 with SM3 and the default user id.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

#include "certificatesdk.h"
#include "kit/platform.h"
#include "sm2_raw.h"

namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;

int verify(CERTIFICATESDK_CERT context, const unsigned char* data, int data_length,
           const unsigned char* signature, int signature_length) {
    if (!context || !context->pbCertEncoded || (!data && data_length != 0) || data_length < 0 ||
        !signature || signature_length < 0)
        return CERTIFICATESDK_BAD_ARGUMENT;
    const unsigned char* p = context->pbCertEncoded;
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(context->cbCertEncoded)));
    if (!cert) return CERTIFICATESDK_BAD_CERT;
    EVP_PKEY* key = X509_get0_pubkey(cert.get());
    if (!key || !devkit::sm2::is_sm2(key)) return CERTIFICATESDK_NOT_SM2;
    if (signature_length != static_cast<int>(devkit::sm2::kSignatureSize))
        return CERTIFICATESDK_BAD_SIGNATURE;
    return devkit::sm2::verify(key, data, static_cast<size_t>(data_length), signature,
                               devkit::sm2::kSignatureSize)
               ? CERTIFICATESDK_VALID
               : CERTIFICATESDK_INVALID;
}

}  // namespace

extern "C" KIT_EXPORT int VENDOR_CALL SKFVerifyData(CERTIFICATESDK_CERT cert,
                                                    const unsigned char* data, int data_length,
                                                    const unsigned char* signature,
                                                    int signature_length) {
    int result = verify(cert, data, data_length, signature, signature_length);
    ERR_clear_error();
    return result;
}
