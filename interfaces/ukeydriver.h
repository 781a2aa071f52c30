/* The key driver interface "UKeyDriver.dll" as its callers (Sealgate, Sealform) bind it: by
 * file name, each function looked up by its exported name. C calling convention throughout.
 *
 * Handles: OpenDevice gives an opaque non-zero handle, 0 when no key can be opened.
 * Text results: zero-terminated narrow strings owned by the driver, valid until the same
 * thread's next call of the same function on the same handle (or CloseDevice); null means
 * failure. Each thread has answers of its own, so another thread's call never frees them.
 * Every function may be called from several threads; calls on one handle are serialised.
 * Status results: 0 = success, anything else failure (the device library's status words:
 * 0x800063C0 + n wrong PIN with n tries left, 0x80006983 PIN blocked, 0x80006982 PIN not
 * verified, 0x1000000B bad handle or argument, 0x10000003 buffer too short, 0x80006A82 no such
 * object, 0x80006F00 anything else). */
#ifndef UKEYDRIVER_H
#define UKEYDRIVER_H

#ifdef __cplusplus
extern "C" {
#endif

#include "vendor_call.h"

/* Opens the key: the one named by SOFTKEY_SERIAL when set, otherwise the first key that is
 * plugged in (serial order). */
typedef void*(VENDOR_CALL* OpenDevice_fn)(void);
/* Ends the handle. */
typedef int(VENDOR_CALL* CloseDevice_fn)(void* device);
/* Base64 of the XML <seallist><seal index="0"/>...</seallist>, one "seal" per seal. */
typedef const char*(VENDOR_CALL* EnumSeal_fn)(void* device);
/* Base64 of the DER of seal `index` (0 = first); null when there is no such seal. */
typedef const char*(VENDOR_CALL* ReadSeal_fn)(void* device, int index);
/* Checks the user PIN and counts tries; 0 = accepted. */
typedef int(VENDOR_CALL* VerifyPin_fn)(void* device, const char* pin);
/* The key's serial number. */
typedef const char*(VENDOR_CALL* GetUkSerial_fn)(void* device);
/* <ukcert><signcert>Base64 of the DER signing certificate</signcert></ukcert>; `reserved` is 0. */
typedef const char*(VENDOR_CALL* GetUkCert_fn)(void* device, int reserved);
/* SM2 signature with SM3 and the default user id over `data` with the key's own signing key, as
 * the 64-byte r||s pair. Needs the PIN verified on this handle. `*sig_len` on entry is the
 * buffer's capacity when positive (at least 64 is needed); 0 or less means the 1024 bytes that
 * callers provide by convention. */
typedef int(VENDOR_CALL* SignMessage_fn)(void* device, int reserved, const unsigned char* data,
                                         int data_len, unsigned char* sig, int* sig_len);
/* Signs the "srcdata" of a "certinfo" request (the Base64 of the data) with the SM2 key material
 * the request carries in "prikey" (and "pubx", "puby" when present, which must match), each as
 * hex or Base64 of the big-endian number. Writes the 64-byte r||s pair into `sig` (2048 bytes). */
typedef int(VENDOR_CALL* ECCSignExt_fn)(void* device, const char* request, unsigned char* sig,
                                        int* sig_len);

#ifdef __cplusplus
}
#endif

#endif
