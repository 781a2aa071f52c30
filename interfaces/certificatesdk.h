/*
 * certificatesdk.h: signature checking with a certificate (CertificateSDK.dll), loaded by
 * file name at run time.
 *
 * SKFVerifyData checks an SM2-with-SM3 signature (default user id "1234567812345678", the
 * signature as the 64-byte pair r || s) over data with the public key of a certificate.
 * The certificate arrives as a certificate context: on Windows the crypt32 CERT_CONTEXT; on
 * other systems a structure with the same leading members, of which the module reads the DER
 * bytes (pbCertEncoded, cbCertEncoded).
 */
#ifndef CERTIFICATESDK_H
#define CERTIFICATESDK_H

#include "vendor_call.h"

#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>
typedef PCCERT_CONTEXT CERTIFICATESDK_CERT;
#else
#include <stdint.h>
typedef struct CERTIFICATESDK_CONTEXT {
    uint32_t dwCertEncodingType; /* X509_ASN_ENCODING | PKCS_7_ASN_ENCODING = 0x10001 */
    unsigned char* pbCertEncoded;
    uint32_t cbCertEncoded;
    void* pCertInfo;
    void* hCertStore;
} CERTIFICATESDK_CONTEXT;
typedef const CERTIFICATESDK_CONTEXT* CERTIFICATESDK_CERT;
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results of SKFVerifyData. */
#define CERTIFICATESDK_VALID 0
#define CERTIFICATESDK_BAD_ARGUMENT 1  /* null pointer or negative length */
#define CERTIFICATESDK_BAD_CERT 2      /* the certificate does not decode */
#define CERTIFICATESDK_NOT_SM2 3       /* the certificate's key is not an SM2 key */
#define CERTIFICATESDK_BAD_SIGNATURE 4 /* the signature does not have the r || s form */
#define CERTIFICATESDK_INVALID 5       /* the signature does not match the data */

/* The function as the module exports it ("SKFVerifyData"). Returns 0 when the signature is valid.
 */
typedef int(VENDOR_CALL* SKFVerifyData_fn)(CERTIFICATESDK_CERT cert, const unsigned char* data,
                                           int data_length, const unsigned char* signature,
                                           int signature_length);

#ifdef __cplusplus
}
#endif

#endif /* CERTIFICATESDK_H */
