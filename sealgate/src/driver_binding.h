// The key driver "UKeyDriver.dll" as Sealgate binds it: one module handle for the whole process,
// set by InitialSession and cleared by CloseSession; every other export looks its function up
// by name through it at each call.
#pragma once

#include <mutex>
#include <shared_mutex>

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

// The process-wide slot. Read it only inside a DriverCall or a BindingChange.
kit::Module& driver_module();

// A call into the driver on one session. Host programs call from several threads: while a
// DriverCall lives, InitialSession and CloseSession wait (the binding cannot change under
// it), and so does every other call on the same device handle (the driver's answers for a
// device are kept until its next call, and a device is not made for concurrent use). Calls on
// different handles run side by side, except that handles hashing alike share a lock.
class DriverCall {
  public:
    explicit DriverCall(void* device);
    DriverCall(const DriverCall&) = delete;
    DriverCall& operator=(const DriverCall&) = delete;

    // A driver function for this call: null when no driver is bound, the handle is 0 or the
    // driver does not export the name.
    template <class Fn>
    Fn function(const char* name) const {
        kit::Module& m = driver_module();
        if (!m || !device_) return nullptr;
        return m.function<Fn>(name);
    }

  private:
    void* device_;
    std::shared_lock<std::shared_mutex> binding_;
    std::unique_lock<std::mutex> session_;
};

// Exclusive hold of the binding for InitialSession and CloseSession: waits until no
// DriverCall runs.
std::unique_lock<std::shared_mutex> change_binding();

}  // namespace sealgate
