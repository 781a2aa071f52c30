// The key driver "UKeyDriver.dll" as Sealgate binds it: one module handle for the whole process,
// set by InitialSession and cleared by CloseSession; every other export looks its function up
// by name through it at each call.
#pragma once

#include "kit/platform.h"

namespace sealgate {

// The driver's functions, C calling convention.
#define UKD_CALL KIT_CDECL
using OpenDeviceFn = void*(UKD_CALL*)();
using CloseDeviceFn = int(UKD_CALL*)(void* device);
using EnumSealFn = const char*(UKD_CALL*)(void* device);
using ReadSealFn = const char*(UKD_CALL*)(void* device, int index);
using VerifyPinFn = int(UKD_CALL*)(void* device, const char* pin);
using GetUkSerialFn = const char*(UKD_CALL*)(void* device);
using GetUkCertFn = const char*(UKD_CALL*)(void* device, int reserved);
using SignMessageFn = int(UKD_CALL*)(void* device, int reserved, const unsigned char* data,
                                     int data_length, unsigned char* signature,
                                     int* signature_length);

// The process-wide slot. Not locked: hosts open and close sessions while no other call runs.
kit::Module& driver_module();

// A driver function for a call on `device`: null when no driver is bound, the handle is 0 or
// the driver does not export the name.
template <class Fn>
Fn driver_function(void* device, const char* name) {
    kit::Module& m = driver_module();
    if (!m || !device) return nullptr;
    return m.function<Fn>(name);
}

}  // namespace sealgate
