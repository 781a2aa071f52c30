// Binding of the outside device library "KEVA_QMB4410_LIB.dll" and typed calls through its
// function table. Every device operation of Keywarden goes through these calls; the library's
// slots, status words and record layouts are those of keva_qmb4410_lib.h.
#pragma once

#include <windows.h>

#include <cstdint>

#include "keva_qmb4410_lib.h"

// Codes of Keywarden's own objects.
constexpr ULONG KW_ERR_NULL_POINTER = 0x1000000B;  // missing pointer or device not open
constexpr ULONG KW_ERR_BUFFER_TOO_SHORT = 0x10000003;

constexpr int kDevNameSize = KEVA_DEVICE_NAME_SIZE;
constexpr ULONG kMaxEnumDevices = KEVA_MAX_DEVICES;
constexpr ULONG kMaxContainers = KEVA_MAX_CONTAINERS;
constexpr size_t kDevInfoSize = KEVA_DEVICE_INFO_SIZE;
constexpr size_t kContainerRecordSize = KEVA_CONTAINER_RECORD_SIZE;
constexpr ULONG kMaxCertSize = KEVA_MAX_CERT_SIZE;

using DEVHANDLE = uint32_t;

extern const char kDeviceLibraryName[];  // KEVA_LIBRARY_NAME

// Loads the library, fetches its table and initialises it with "KEVA_UKEY". Returns 0 on
// success, the system error or the library's status otherwise (logged).
ULONG BindDeviceLibrary();
// Finalises and unloads; harmless when not bound.
void UnbindDeviceLibrary();
bool DeviceLibraryBound();

// The table's slots (KEVA_SLOT_*). Each returns KW_ERR_NULL_POINTER when the library is not
// bound or the slot is empty.
namespace devlib {
ULONG EnumDevices(char* names, ULONG* count);  // 16 x 260 bytes
ULONG OpenDevice(const char* name, DEVHANDLE* handle);
ULONG CloseDevice(DEVHANDLE handle);
ULONG GetLabel(DEVHANDLE handle, char* label, ULONG* length);
ULONG SetLabel(DEVHANDLE handle, const char* label, ULONG length);
ULONG GetDevInfo(DEVHANDLE handle, uint8_t* record);  // KEVA_DEVICE_INFO_SIZE bytes
ULONG ChangePin(DEVHANDLE handle, const char* oldPin, ULONG oldLen, const char* newPin,
                ULONG newLen);
ULONG GetPinRetryState(DEVHANDLE handle, ULONG* state);
ULONG Probe(DEVHANDLE handle, uint8_t* buffer8, ULONG length);
ULONG CheckDeviceName(const char* name);
ULONG EnumContainers(DEVHANDLE handle, uint8_t* records, ULONG* count);
ULONG ReadCert(DEVHANDLE handle, const uint8_t* certRef, uint8_t* cert, ULONG* length);
}  // namespace devlib
