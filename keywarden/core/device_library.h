// Binding of the outside device library "KEVA_QMB4410_LIB.dll" and typed calls through its
// function table. Every device operation of Keywarden goes through these calls.
#pragma once

#include <windows.h>

#include <cstdint>

// Status words of the key come back as 0x8000xxxx with the ISO 7816 status in the low half.
constexpr ULONG KEY_SW_NOT_INITIALISED = 0x80006A81;  // get-label: key has no label
constexpr ULONG KEY_SW_PIN_WRONG_BASE = 0x800063C0;   // plus the tries left
constexpr ULONG KEY_SW_PIN_BLOCKED = 0x80006983;
// Codes of Keywarden's own objects.
constexpr ULONG KW_ERR_NULL_POINTER = 0x1000000B;  // missing pointer or device not open
constexpr ULONG KW_ERR_BUFFER_TOO_SHORT = 0x10000003;

constexpr int kDevNameSize = 260;
constexpr ULONG kMaxEnumDevices = 16;
constexpr ULONG kMaxContainers = 8;
constexpr size_t kDevInfoSize = 100;
constexpr size_t kContainerRecordSize = 273;
constexpr ULONG kMaxCertSize = 2048;

using DEVHANDLE = uint32_t;

extern const char kDeviceLibraryName[];  // "KEVA_QMB4410_LIB.dll"

// Loads the library, fetches its table and initialises it with "KEVA_UKEY". Returns 0 on
// success, the system error or the library's status otherwise (logged).
ULONG BindDeviceLibrary();
// Finalises and unloads; harmless when not bound.
void UnbindDeviceLibrary();
bool DeviceLibraryBound();

// Table slots. Each returns KW_ERR_NULL_POINTER when the library is not bound.
namespace devlib {
ULONG EnumDevices(char* names, ULONG* count);                       // slot 3, 16 x 260 bytes
ULONG OpenDevice(const char* name, DEVHANDLE* handle);              // slot 4
ULONG CloseDevice(DEVHANDLE handle);                                // slot 5
ULONG GetLabel(DEVHANDLE handle, char* label, ULONG* length);       // slot 8
ULONG SetLabel(DEVHANDLE handle, const char* label, ULONG length);  // slot 9
ULONG GetDevInfo(DEVHANDLE handle, uint8_t* record);                // slot 10, 100 bytes
ULONG ChangePin(DEVHANDLE handle, const char* oldPin, ULONG oldLen, const char* newPin,
                ULONG newLen);                                                           // slot 24
ULONG GetPinRetryState(DEVHANDLE handle, ULONG* state);                                  // slot 29
ULONG Probe(DEVHANDLE handle, uint8_t* buffer8, ULONG length);                           // slot 34
ULONG CheckDeviceName(const char* name);                                                 // slot 59
ULONG EnumContainers(DEVHANDLE handle, uint8_t* records, ULONG* count);                  // slot 63
ULONG ReadCert(DEVHANDLE handle, const uint8_t* certRef, uint8_t* cert, ULONG* length);  // 69
}  // namespace devlib
