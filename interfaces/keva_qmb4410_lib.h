/* The device library of the KEVA QMB4410 key, "KEVA_QMB4410_LIB.dll", as Keywarden binds it.
 * One export, ukGetFunctionList, hands out a table of function pointers indexed by slot; the
 * slots used are below, the others may be null. Slot 1 is called once with the application name
 * before any other, slot 2 at the end. Every function returns a 32-bit status: 0 = success,
 * 0x8000xxxx = the ISO 7816 status word of the key, KEVA_ERR_* = errors of the library. */
#ifndef KEVA_QMB4410_LIB_H
#define KEVA_QMB4410_LIB_H

#include <stdint.h>

#include "vendor_call.h"

#ifdef __cplusplus
extern "C" {
#endif

#define KEVA_LIBRARY_NAME "KEVA_QMB4410_LIB.dll"
#define KEVA_GET_FUNCTION_LIST "ukGetFunctionList"
#define KEVA_APPLICATION_NAME "KEVA_UKEY" /* what Keywarden initialises the library with */

/* Status words of the key. */
#define KEVA_SW_NOT_INITIALISED 0x80006A81u /* get-label on a key without label */
#define KEVA_SW_PIN_WRONG_BASE 0x800063C0u  /* plus the tries left */
#define KEVA_SW_PIN_BLOCKED 0x80006983u
#define KEVA_SW_WRONG_LENGTH 0x80006700u /* caller's buffer or data length not acceptable */
#define KEVA_SW_WRONG_DATA 0x80006A80u   /* label or PIN bytes not acceptable */
#define KEVA_SW_NOT_FOUND 0x80006A82u    /* no such certificate or container */
/* Errors of the library. */
#define KEVA_ERR_NOT_INITIALISED 0xE0000001u /* slot 1 was not called */
#define KEVA_ERR_BAD_ARGUMENT 0xE0000002u
#define KEVA_ERR_NO_DEVICE 0xE0000003u /* name unknown or key not plugged in */
#define KEVA_ERR_BAD_HANDLE 0xE0000004u
#define KEVA_ERR_STORE 0xE0000005u /* the store could not be read or written */

#define KEVA_MAX_DEVICES 16
#define KEVA_DEVICE_NAME_SIZE 260
#define KEVA_MAX_CONTAINERS 8
#define KEVA_LABEL_MAX 64 /* bytes of a label, without terminator */

/* Device information record (slot 10), KEVA_DEVICE_INFO_SIZE bytes. */
#define KEVA_DEVICE_INFO_SIZE 100
#define KEVA_DEVINFO_VERSION 0 /* 1 byte: the caller puts 6 there */
#define KEVA_DEVINFO_VERSION_CURRENT 6
#define KEVA_DEVINFO_MANUFACTURER 8 /* 32 bytes of text */
#define KEVA_DEVINFO_SERIAL 40      /* up to KEVA_DEVINFO_SERIAL_MAX bytes */
#define KEVA_DEVINFO_SERIAL_MAX 32
#define KEVA_DEVINFO_SERIAL_LENGTH 72 /* 4 bytes, little-endian */
#define KEVA_DEVINFO_COS_VERSION 76   /* 4 bytes */
#define KEVA_COS_VERSION_SIZE 4

/* Container record (slot 63), KEVA_CONTAINER_RECORD_SIZE bytes each. */
#define KEVA_CONTAINER_RECORD_SIZE 273
#define KEVA_CONTAINER_ALGORITHM 2           /* KEVA_ALGORITHM_* */
#define KEVA_CONTAINER_EXCHANGE_KEY 3        /* non-zero: the exchange key is present */
#define KEVA_CONTAINER_SIGNATURE_KEY 4       /* non-zero: the signature key is present */
#define KEVA_CONTAINER_EXCHANGE_CERT_REF 9   /* reference of the exchange certificate (slot 69) */
#define KEVA_CONTAINER_SIGNATURE_CERT_REF 15 /* reference of the signature certificate */
#define KEVA_CONTAINER_NAME 17               /* up to 256 bytes, zero-terminated when shorter */
#define KEVA_ALGORITHM_RSA 1
#define KEVA_ALGORITHM_SM2 14

/* PIN retry state (slot 29): low byte the tries left, top byte non-zero while the PIN is the
 * factory default. */
#define KEVA_PIN_TRIES(state) ((state)&0xFFu)
#define KEVA_PIN_IS_DEFAULT(state) (((state) >> 24) != 0)
#define KEVA_USER_PIN 1 /* the PIN kind and PIN number slots 24 and 29 are called with */

#define KEVA_MAX_CERT_SIZE 2048

/* Table slots and the functions they hold. */
#define KEVA_SLOT_INITIALIZE 1
#define KEVA_SLOT_FINALIZE 2
#define KEVA_SLOT_ENUM_DEVICES 3
#define KEVA_SLOT_OPEN_DEVICE 4
#define KEVA_SLOT_CLOSE_DEVICE 5
#define KEVA_SLOT_GET_LABEL 8
#define KEVA_SLOT_SET_LABEL 9
#define KEVA_SLOT_GET_DEVICE_INFO 10
#define KEVA_SLOT_CHANGE_PIN 24
#define KEVA_SLOT_GET_PIN_RETRY_STATE 29
#define KEVA_SLOT_PROBE 34
#define KEVA_SLOT_CHECK_DEVICE_NAME 59
#define KEVA_SLOT_ENUM_CONTAINERS 63
#define KEVA_SLOT_READ_CERT 69
#define KEVA_SLOT_COUNT 70

typedef uint32_t(VENDOR_CALL* keva_initialize_fn)(const char* application);
typedef uint32_t(VENDOR_CALL* keva_finalize_fn)(uint32_t reserved);
/* names: *count x KEVA_DEVICE_NAME_SIZE bytes; *count in: room, out: names written. */
typedef uint32_t(VENDOR_CALL* keva_enum_devices_fn)(char* names, uint32_t* count);
typedef uint32_t(VENDOR_CALL* keva_open_device_fn)(const char* name, uint32_t* handle);
typedef uint32_t(VENDOR_CALL* keva_close_device_fn)(uint32_t handle);
typedef uint32_t(VENDOR_CALL* keva_get_label_fn)(uint32_t handle, char* label, uint32_t* length);
typedef uint32_t(VENDOR_CALL* keva_set_label_fn)(uint32_t handle, const char* label,
                                                 uint32_t length);
typedef uint32_t(VENDOR_CALL* keva_get_device_info_fn)(uint32_t handle, uint8_t* record);
typedef uint32_t(VENDOR_CALL* keva_change_pin_fn)(uint32_t handle, uint32_t pinKind,
                                                  uint32_t pinNumber, const char* oldPin,
                                                  uint32_t oldLength, const char* newPin,
                                                  uint32_t newLength);
typedef uint32_t(VENDOR_CALL* keva_get_pin_retry_state_fn)(uint32_t handle, uint32_t pinKind,
                                                           uint32_t pinNumber, uint32_t* state);
typedef uint32_t(VENDOR_CALL* keva_probe_fn)(uint32_t handle, uint8_t* buffer, uint32_t length);
typedef uint32_t(VENDOR_CALL* keva_check_device_name_fn)(const char* name, uint32_t* reserved1,
                                                         uint32_t* reserved2);
/* records: *count x KEVA_CONTAINER_RECORD_SIZE bytes; *count in: room, out: records written. */
typedef uint32_t(VENDOR_CALL* keva_enum_containers_fn)(uint32_t handle, uint8_t* records,
                                                       uint32_t* count);
/* certRef: the reference from a container record; *length in: room, out: bytes written. */
typedef uint32_t(VENDOR_CALL* keva_read_cert_fn)(uint32_t handle, const uint8_t* certRef,
                                                 uint8_t* cert, uint32_t* length);

/* The one export: the table of KEVA_SLOT_COUNT entries. */
typedef uint32_t(VENDOR_CALL* keva_get_function_list_fn)(void* const** table);

#ifdef __cplusplus
}
#endif

#endif
