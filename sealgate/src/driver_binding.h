// The key driver "UKeyDriver.dll" as Sealgate binds it: one module handle for the whole process,
// set by InitialSession and cleared by CloseSession; every other export looks its function up
// by name through it at each call.
#pragma once

#include "kit/platform.h"
#include "ukeydriver.h"

namespace sealgate {

// The driver's function types (C calling convention), shared with the driver stand-in.
using OpenDeviceFn = OpenDevice_fn;
using CloseDeviceFn = CloseDevice_fn;
using EnumSealFn = EnumSeal_fn;
using ReadSealFn = ReadSeal_fn;
using VerifyPinFn = VerifyPin_fn;
using GetUkSerialFn = GetUkSerial_fn;
using GetUkCertFn = GetUkCert_fn;
using SignMessageFn = SignMessage_fn;

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
