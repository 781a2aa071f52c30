/*
 * signaturemodule.h: the PFX signer that Sealform loads to make seals (signaturemodule.dll).
 *
 * A PFX (PKCS #12) file holds the seal maker's SM2 key and certificate. The module reads the
 * certificate out of it and signs with the key: SM2 with SM3 and the default user id
 * "1234567812345678", the signature given as the 64-byte pair r || s (32 bytes each).
 *
 * Output buffers have fixed sizes that callers provide and the module never writes past:
 * SIGNATUREMODULE_INFO_SIZE bytes for the certificate information, SIGNATUREMODULE_SIGN_SIZE
 * bytes for a signature. Results that would not fit are reported as errors.
 */
#ifndef SIGNATUREMODULE_H
#define SIGNATUREMODULE_H

#include "vendor_call.h"

#ifdef _WIN32
#ifdef SIGNATUREMODULE_BUILDING
#define SIGNATUREMODULE_API __declspec(dllexport)
#else
#define SIGNATUREMODULE_API __declspec(dllimport)
#endif
#else
#define SIGNATUREMODULE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define SIGNATUREMODULE_INFO_SIZE 20480
#define SIGNATUREMODULE_SIGN_SIZE 2048

/* Results of ParsePfxFile and PfxSign. */
#define SIGNATUREMODULE_OK 0
#define SIGNATUREMODULE_BAD_ARGUMENT 1 /* a null pointer or a negative length */
#define SIGNATUREMODULE_NO_FILE 2      /* the PFX file cannot be read */
#define SIGNATUREMODULE_NOT_PFX 3      /* the file is not a PKCS #12 structure */
#define SIGNATUREMODULE_BAD_PASSWORD 4 /* the password does not open the PFX */
#define SIGNATUREMODULE_NO_KEY 5       /* the PFX lacks a private key or a certificate */
#define SIGNATUREMODULE_NOT_SM2 6      /* the key is not an SM2 key */
#define SIGNATUREMODULE_SIGN_FAILED 7  /* the signature could not be computed */
#define SIGNATUREMODULE_TOO_LARGE 8    /* the result would not fit the caller's buffer */

/*
 * Base64_decode: decodes Base64 text (RFC 4648 alphabet). Line breaks and blanks inside the
 * text are skipped; decoding ends at the first "=" or at any other character outside the
 * alphabet.
 *   text, text_length  the text (text_length < 0: up to the NUL)
 *   out                buffer for the bytes, or NULL to ask for the decoded length
 *   out_length         out: the decoded length (with a buffer: the number of bytes stored)
 * Returns 0, or SIGNATUREMODULE_BAD_ARGUMENT for null pointers.
 */
SIGNATUREMODULE_API int VENDOR_CALL Base64_decode(const char* text, int text_length,
                                                  unsigned char* out, int* out_length);

/*
 * ParsePfxFile: the certificate information of a PFX file as XML text:
 *   <infos><cer>Base64 of the DER certificate</cer><subject>...</subject>
 *   <serial>hex</serial><notbefore>...</notbefore><notafter>...</notafter></infos>
 *   info         buffer of SIGNATUREMODULE_INFO_SIZE bytes; the text is NUL-terminated
 *   info_length  out: length of the text
 */
SIGNATUREMODULE_API int VENDOR_CALL ParsePfxFile(const char* pfx_path, const char* password,
                                                 char* info, int* info_length);

/*
 * PfxSign: signs data with the PFX's SM2 key (SM3, default user id) and stores the 64-byte
 * r || s signature.
 *   signature         buffer of SIGNATUREMODULE_SIGN_SIZE bytes
 *   signature_length  out: number of signature bytes
 */
SIGNATUREMODULE_API int VENDOR_CALL PfxSign(const char* pfx_path, const char* password,
                                            const unsigned char* data, int data_length,
                                            unsigned char* signature, int* signature_length);

#ifdef __cplusplus
}
#endif

#endif /* SIGNATUREMODULE_H */
