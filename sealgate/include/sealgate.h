/* Sealgate: a host program's door to the electronic seals, the PIN, the serial number, the
 * signing certificate and the raw signing of a USB key.
 *
 * Sessions. InitialSession binds the key driver "UKeyDriver.dll" and opens the key; the handle it
 * gives is the first argument of every other call until CloseSession. The driver binding is one
 * per process: CloseSession ends it for every handle, and a failed InitialSession leaves it bound.
 *
 * Threads. Every function may be called from any thread. Calls on one session handle run one at
 * a time (the key is not made for concurrent use); calls on different handles may run side by
 * side. InitialSession and CloseSession wait until no other call is inside the key driver, so
 * the binding never changes under a call; a call that starts after CloseSession fails with 0.
 * GetSealStatus does not hold its session while it waits for the seal registry service.
 *
 * Results. 1 = success, 0 = failure, unless a function says otherwise. Nothing is raised to the
 * caller.
 *
 * Output buffers. A null buffer asks for the size to provide: the size is stored in *length and
 * the call returns 1 without a session (GetSealInfo 20480, GetSerial 100, GetSignCert 10240,
 * RawSignData 1024). Otherwise the result bytes are written to the buffer, without a terminating
 * zero, and their count to *length. A result that would not fit the size answered by the size
 * query fails with 0 and writes nothing. On failure the buffer and *length are left as they were
 * unless the key driver itself wrote into them (RawSignData). GetSealInfo_WithCapacity is the
 * one call that takes the buffer's capacity and so serves results of any size.
 *
 * Text is in the system ANSI code page (code page 936 on the target machines). */
#ifndef SEALGATE_H
#define SEALGATE_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#if defined(SEALGATE_BUILD)
#define SEALGATE_API __declspec(dllexport)
#else
#define SEALGATE_API __declspec(dllimport)
#endif
#if !defined(_WIN64)
#define SEALGATE_CALL __cdecl
#else
#define SEALGATE_CALL
#endif
#else
#define SEALGATE_API __attribute__((visibility("default")))
#define SEALGATE_CALL
#endif

/* Result of GetSealInfo_WithCapacity when the buffer is null or smaller than the result. */
#define SEALGATE_BUFFER_TOO_SMALL 122

/* Sizes answered by the size queries. */
#define SEALGATE_SEALINFO_SIZE 20480
#define SEALGATE_SERIAL_SIZE 100
#define SEALGATE_SIGNCERT_SIZE 10240
#define SEALGATE_SIGNATURE_SIZE 1024

/* Binds the key driver and opens the key. On success stores the session handle in *device and
 * returns 1; 0 when `device` is null, the driver cannot be loaded or no key can be opened
 * (*device untouched). */
SEALGATE_API int SEALGATE_CALL InitialSession(void** device);

/* Closes the key and unbinds the driver for the whole process. A null handle does nothing. */
SEALGATE_API void SEALGATE_CALL CloseSession(void* device);

/* Number of seals on the key; 0 also on any failure. */
SEALGATE_API int SEALGATE_CALL GetSealCount(void* device);

/* Seal `index` (0 = first) in one of three forms: mode 0 the binary seal record, mode 1 the
 * seal's Base64 text, mode 2 the seal code. Any other mode fails.
 *
 * The seal record (little-endian 32-bit integers; texts zero-terminated within their fields):
 *     0  version              4  record length (picture length + 268)
 *     8  holder's common name, 64 bytes (at most 63 and the terminator)
 *    72  seal type           76  0
 *    80  picture width, 84 picture height, in hundredths of a millimetre on this screen
 *    88  seal name, 64 bytes         152  holder's common name again, 64 bytes
 *   216  valid from, 240 valid to, 24 bytes each, "YYYY/MM/DD hh:mm:ss"
 *   264  the picture file's bytes, then 4 zero bytes
 * A result larger than 20480 bytes (the record of a seal whose picture exceeds 20212 bytes, or
 * its Base64 text) fails with 0 and writes nothing: read such seals with
 * GetSealInfo_WithCapacity. */
SEALGATE_API int SEALGATE_CALL GetSealInfo(void* device, int index, int mode, unsigned char* buffer,
                                           int* length);

/*
 * NAME
 *   GetSealInfo_WithCapacity - read a seal of any size into a buffer of a size the host tells
 *
 * DESCRIPTION
 *   Reads seal `index` (0 = first) of the session in the form `mode` chooses, as GetSealInfo
 *   does (0 the seal record, 1 the seal's Base64 text, 2 the seal code), but with no limit on
 *   the result's size: `capacity` tells how many bytes `buffer` holds, and nothing is ever
 *   written past them.
 *
 *   Pass a null `buffer` (or any capacity) to learn the size: when the result does not fit,
 *   the exact number of bytes it needs is stored in *length and the call returns
 *   SEALGATE_BUFFER_TOO_SMALL, writing nothing to the buffer. Call again with a buffer of at
 *   least that size. Each call reads the seal anew.
 *
 * RETURN VALUE
 *   1                          the result is in `buffer` (no terminating zero) and its size in
 *                              *length
 *   SEALGATE_BUFFER_TOO_SMALL  `buffer` is null or `capacity` is below the result's size;
 *                              *length holds the size needed
 *   0                          failure: no session, no such seal, a mode other than 0, 1 and
 *                              2, or a seal that cannot be read; buffer and *length untouched
 *
 * EXAMPLE
 *   int size = 0;
 *   unsigned char* record = NULL;
 *   if (GetSealInfo_WithCapacity(device, 0, 0, NULL, 0, &size) == SEALGATE_BUFFER_TOO_SMALL &&
 *       (record = malloc(size)) != NULL &&
 *       GetSealInfo_WithCapacity(device, 0, 0, record, size, &size) == 1)
 *       use_record(record, size);
 *   free(record);
 */
SEALGATE_API int SEALGATE_CALL GetSealInfo_WithCapacity(void* device, int index, int mode,
                                                        unsigned char* buffer, int capacity,
                                                        int* length);

/* Whether seal `index` may be used: 0 no session, 1 offline and its signature verifies, 3 its
 * validity has ended, 5 it cannot be read or checked, otherwise the status the seal registry
 * reports. The registry is asked over HTTP or HTTPS (certificate and host name checked; any TLS
 * failure gives 5) when the machine is connected, within a time limit (README:
 * SEALGATE_REGISTRY_URL, SEALGATE_REGISTRY_CA_FILE, SEALGATE_HTTP_TIMEOUT). */
SEALGATE_API int SEALGATE_CALL GetSealStatus(void* device, int index);

/* 1 when the key accepts the user PIN. Each wrong PIN costs one of the key's tries; at none left
 * the key blocks the PIN. */
SEALGATE_API int SEALGATE_CALL VerifyUserPin(void* device, const char* pin);

/* The key's serial number (text, no terminator). */
SEALGATE_API int SEALGATE_CALL GetSerial(void* device, unsigned char* buffer, int* length);

/* The key's signing certificate, DER. */
SEALGATE_API int SEALGATE_CALL GetSignCert(void* device, unsigned char* buffer, int* length);

/* Signs `data_length` bytes with the key's signing key (verify the PIN first). The driver
 * writes the signature into `signature` and its length into *signature_length, whose value on
 * entry it may take as the buffer's capacity. */
SEALGATE_API int SEALGATE_CALL RawSignData(void* device, const unsigned char* data, int data_length,
                                           unsigned char* signature, int* signature_length);

#ifdef __cplusplus
}
#endif

#endif /* SEALGATE_H */
