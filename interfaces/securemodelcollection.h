/*
 * securemodelcollection.h: symmetric file encryption (SecureModelCollection.dll), loaded by
 * file name at run time.
 *
 * Files are sealed with SM4 in CBC mode and PKCS #7 padding. The plain text is followed by its
 * SM3 digest before encryption, so a wrong key or a changed file is detected. An encrypted file is
 * the four bytes "SMC1", a random 16-byte initialisation vector and the cipher text. The cipher key
 * is the first 16 bytes of the SM3 digest of the key text, so any non-empty text serves as a key.
 */
#ifndef SECUREMODELCOLLECTION_H
#define SECUREMODELCOLLECTION_H

#include "vendor_call.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The algorithm number callers pass: SM4 in CBC mode. */
#define SECUREMODEL_SM4_CBC 256

/* Results. */
#define SECUREMODEL_OK 0
#define SECUREMODEL_BAD_ARGUMENT 1 /* null or empty path or key, unknown algorithm or flags */
#define SECUREMODEL_CANNOT_READ 2  /* the source file cannot be read */
#define SECUREMODEL_NOT_SEALED 3   /* the source is not an encrypted file of this module */
#define SECUREMODEL_WRONG_KEY 4    /* the cipher text does not decrypt with this key */
#define SECUREMODEL_CANNOT_WRITE 5 /* the target file cannot be written */

/*
 * SymmetryDecryption_File: decrypts the file at `source` into a new file at `target`
 * (replaced if present). `algorithm` is SECUREMODEL_SM4_CBC, `key` a NUL-terminated key text,
 * `flags` 0. On any failure no target file is left behind.
 */
typedef int(VENDOR_CALL* SymmetryDecryption_File_fn)(const char* source, const char* target,
                                                     int algorithm, const char* key, int flags);
/* SymmetryEncryption_File: the opposite direction, same arguments. */
typedef int(VENDOR_CALL* SymmetryEncryption_File_fn)(const char* source, const char* target,
                                                     int algorithm, const char* key, int flags);

#ifdef __cplusplus
}
#endif

#endif /* SECUREMODELCOLLECTION_H */
