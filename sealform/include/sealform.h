/*
 * sealform.h: making and parsing electronic seals.
 *
 * A seal is the DER encoding of an SESeal: the seal picture, the seal's properties, the
 * certificates of its holders and the seal maker's SM2 signature. Callers pass XML parameter
 * documents and get DER bytes back, or pass DER bytes and get XML descriptions.
 *
 * Results that the library returns by pointer belong to the library: each stays valid until
 * the same thread's next call of the same family (or its release function) and must not be
 * freed by the caller. Every function may be called from several threads at once: each thread
 * has its own result of each family, which another thread's calls never touch, and a thread
 * releases only its own. A thread that ends without releasing leaves its last result until
 * the library is unloaded.
 *
 * Narrow text parameters are in the system ANSI code page unless stated otherwise.
 */
#ifndef SEALFORM_H
#define SEALFORM_H

#ifdef _WIN32
#ifdef SEALFORM_BUILDING
#define SEALFORM_API __declspec(dllexport)
#else
#define SEALFORM_API __declspec(dllimport)
#endif
#define SEALFORM_CALL __cdecl
#else
#define SEALFORM_API __attribute__((visibility("default")))
#define SEALFORM_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result of ParsingSeal_SignWithKey and ParsingSeal_ForVerify for bytes that are not a seal. */
#define SEALFORM_NOT_A_SEAL 404
/* Result of ParsingSeal_ForVerify when an output does not fit the capacity its caller told. */
#define SEALFORM_BUFFER_TOO_SMALL 122

/*
 * ParsingSeal: describes a seal as XML (root element "sealinfos": identifiers, properties,
 * holder certificates and picture; the signature is not checked).
 *   seal    the seal's DER (or BER) bytes
 *   length  in: number of seal bytes; out: length of the XML text without its NUL
 * Returns the NUL-terminated XML text, or NULL when the bytes are not a seal (*length is then
 * left unchanged). The text stays valid until the thread's next ParsingSeal or ReleaseSealInfo.
 */
SEALFORM_API char* SEALFORM_CALL ParsingSeal(const unsigned char* seal, int* length);

/* Frees the text of the last ParsingSeal. Calling it again does nothing. */
SEALFORM_API void SEALFORM_CALL ReleaseSealInfo(void);

/*
 * MakeSeal: makes and signs a seal from a "sealparams" XML document, signing with the PFX
 * (PKCS #12) file the document carries in Base64, through the signer module.
 *   params  NUL-terminated XML text
 *   length  out: number of seal bytes
 * Returns the seal's DER bytes, or NULL on failure (*length is then left unchanged and the
 * debugger output's last "MakeSeal...e." label names the step that failed). Limits: the name
 * at most 1023 bytes once converted to UTF-8, certificates at most 2048 bytes. The PFX's
 * temporary copy is removed before the call returns; the password is never traced. The bytes
 * stay valid until the thread's next MakeSeal, MakeSeal_SignWithKey or ReleaseSealData.
 */
SEALFORM_API unsigned char* SEALFORM_CALL MakeSeal(const char* params, int* length);

/* Frees the bytes of the last MakeSeal or MakeSeal_SignWithKey. Calling it again does nothing. */
SEALFORM_API void SEALFORM_CALL ReleaseSealData(void);

/*
 * MakeSeal_SignWithKey: makes a seal from a "sealinfo" XML document whose maker signs through
 * the USB key driver. The document must hold imgdata, usercertlist (with at least one
 * usercert), esid, version, sealtype, sealname, createdate, validstart and validend, and
 * sealmakercert (the Base64 of the encrypted maker document: without it, or when it cannot be
 * decrypted, the call fails and returns NULL); imgtype is optional. The header
 * identifiers are always "ES" and "RZ"; the picture's size is measured in whole millimetres.
 * Result and length as MakeSeal; the bytes share MakeSeal's result slot. The decrypted maker
 * document and every other temporary file are removed before the call returns.
 */
SEALFORM_API unsigned char* SEALFORM_CALL MakeSeal_SignWithKey(const char* params, int* length);

/*
 * ParsingSeal_SignWithKey: describes a seal as a "sealinfo" XML document (with the maker's
 * signature and certificate; the name in the system ANSI code page).
 *   seal, seal_length  the seal's bytes
 *   xml                buffer for the text (copied without NUL), or NULL to ask the length
 *   xml_length         in: the buffer's capacity when positive (zero or less: not told, the
 *                      caller vouches for the size); out: length of the text
 * Returns 0 on success, SEALFORM_NOT_A_SEAL when the bytes are not a seal, and
 * SEALFORM_BUFFER_TOO_SMALL when the text exceeds the capacity told: nothing is written then
 * and *xml_length receives the length needed.
 */
SEALFORM_API int SEALFORM_CALL ParsingSeal_SignWithKey(const unsigned char* seal, int seal_length,
                                                       char* xml, int* xml_length);

/*
 * ParsingSeal_ForVerify: hands a verifier the three things it needs to check the maker's
 * signature: the DER of the seal information (the signed bytes, exactly as they stand in the
 * seal), the maker's certificate and the signature (without the unused-bit count).
 *   info, cert, sign        caller buffers, or NULL to skip that output (its length is then
 *                           left untouched)
 *   info_length, ...        in: the buffer's capacity in bytes when positive (zero or less:
 *                           not told, the caller vouches for the size); out: bytes written
 * Returns 0 on success, SEALFORM_NOT_A_SEAL when the bytes are not a seal, and
 * SEALFORM_BUFFER_TOO_SMALL when an output exceeds the capacity told for it: nothing is then
 * written to any buffer and every given length receives the size its output needs.
 */
SEALFORM_API int SEALFORM_CALL ParsingSeal_ForVerify(const unsigned char* seal, int seal_length,
                                                     unsigned char* info, int* info_length,
                                                     unsigned char* cert, int* cert_length,
                                                     unsigned char* sign, int* sign_length);

/* The exports' function types, for hosts that load the library by name ("Sealform.dll") and
 * look each export up. */
typedef char*(SEALFORM_CALL* ParsingSeal_fn)(const unsigned char* seal, int* length);
typedef void(SEALFORM_CALL* ReleaseSealInfo_fn)(void);
typedef unsigned char*(SEALFORM_CALL* MakeSeal_fn)(const char* params, int* length);
typedef void(SEALFORM_CALL* ReleaseSealData_fn)(void);
typedef unsigned char*(SEALFORM_CALL* MakeSeal_SignWithKey_fn)(const char* params, int* length);
typedef int(SEALFORM_CALL* ParsingSeal_SignWithKey_fn)(const unsigned char* seal, int seal_length,
                                                       char* xml, int* xml_length);
typedef int(SEALFORM_CALL* ParsingSeal_ForVerify_fn)(const unsigned char* seal, int seal_length,
                                                     unsigned char* info, int* info_length,
                                                     unsigned char* cert, int* cert_length,
                                                     unsigned char* sign, int* sign_length);

#ifdef __cplusplus
}
#endif

#endif /* SEALFORM_H */
