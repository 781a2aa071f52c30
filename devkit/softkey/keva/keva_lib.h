// "KEVA_QMB4410_LIB.dll": the device library of the KEVA QMB4410 key, played by the software
// keys of the devkit store (SOFTKEY_STORE). One export, ukGetFunctionList, hands out a table of
// function pointers indexed by slot; the slots served are listed below. Every function returns
// a 32-bit status: 0 = success, 0x8000xxxx = ISO 7816 status word of the key, KEVA_ERR_* =
// library errors.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KEVA_SW_NOT_INITIALISED 0x80006A81u /* get-label on a key without label */
#define KEVA_SW_PIN_WRONG_BASE 0x800063C0u  /* plus the tries left */
#define KEVA_SW_PIN_BLOCKED 0x80006983u
#define KEVA_SW_WRONG_LENGTH 0x80006700u     /* caller's buffer or data length not acceptable */
#define KEVA_SW_WRONG_DATA 0x80006A80u       /* label or PIN bytes not acceptable */
#define KEVA_SW_NOT_FOUND 0x80006A82u        /* no such certificate or container */
#define KEVA_ERR_NOT_INITIALISED 0xE0000001u /* slot 1 was not called */
#define KEVA_ERR_BAD_ARGUMENT 0xE0000002u
#define KEVA_ERR_NO_DEVICE 0xE0000003u /* name unknown or key not plugged in */
#define KEVA_ERR_BAD_HANDLE 0xE0000004u
#define KEVA_ERR_STORE 0xE0000005u /* the store could not be read or written */

#define KEVA_DEVICE_INFO_SIZE 100
#define KEVA_CONTAINER_RECORD_SIZE 273
#define KEVA_MAX_DEVICES 16
#define KEVA_DEVICE_NAME_SIZE 260
#define KEVA_MAX_CONTAINERS 8

/* Table slots served (others are null):
 *  1 Initialize(const char* app)                        2 Finalize(uint32_t reserved)
 *  3 EnumDevices(char names[n*260], uint32_t* n)         4 OpenDevice(const char* name, uint32_t*
 * h) 5 CloseDevice(uint32_t h)                             8 GetLabel(h, char* label, uint32_t*
 * len) 9 SetLabel(h, const char* label, uint32_t len)       10 GetDevInfo(h, uint8_t record[100])
 * 24 ChangePin(h, 1, 1, old, oldLen, new, newLen)       29 GetPinRetryState(h, 1, 1, uint32_t*
 * state) 34 Probe(h, uint8_t buf[8], 8)                        59 CheckDeviceName(name, uint32_t*,
 * uint32_t*) 63 EnumContainers(h, uint8_t records[n*273], uint32_t* n) 69 ReadCert(h, const
 * uint8_t* certRef, uint8_t* cert, uint32_t* len) Device information record: [0] version (6),
 * [8..39] manufacturer text, [40..71] serial bytes, [72..75] serial length, [76..79] COS version.
 * Container record: [2] algorithm (14 = SM2, 1 = RSA), [3] exchange key present, [4] signature key
 * present, [9..14] exchange certificate reference, [15..16] signature certificate reference,
 * [17..272] name. PIN retry state: low byte tries left, top byte non-zero while the PIN is the
 * factory default. */
uint32_t ukGetFunctionList(void* const** table);

#ifdef __cplusplus
}
#endif
