// InitialSession and CloseSession: the life of the process-wide driver binding.
//
// InitialSession loads the driver on every call (the platform counts the loads) and overwrites
// the slot; CloseSession unloads once and clears it. So after two InitialSession calls the first
// CloseSession ends the binding for both handles, and every call fails until the next
// InitialSession; a failed InitialSession whose load succeeded leaves the driver bound.
#include "driver_binding.h"
#include "kit/platform.h"
#include "kit/trace.h"
#include "sealgate.h"

using namespace sealgate;

extern "C" SEALGATE_API int SEALGATE_CALL InitialSession(void** device) {
    try {
        const kit::TraceFunction trace = kit::trace_function();
        const char* name = "InitialSession";
        trace("%s---------------------------1", name);
        // Without a place for the handle a session could only be opened and lost.
        if (!device) return 0;

        auto exclusive = change_binding();
        kit::Module loaded = kit::Module::load("UKeyDriver.dll");
        int load_error = loaded ? 0 : kit::last_system_error();
        kit::Module& slot = driver_module();
        slot.release();  // the earlier load stays counted, as the platform counts loads
        slot = std::move(loaded);
        if (!slot) {
            trace("%s---------------------------1::%d", name, load_error);
            return 0;
        }
        if (auto open = slot.function<OpenDeviceFn>("OpenDevice")) {
            trace("%s---------------------------2", name);
            if (void* handle = open()) {
                trace("%s---------------------------3::%p", name, handle);
                *device = handle;
                return 1;
            }
        }
        trace("%s---------------------------4", name);
        return 0;
    } catch (...) {
        return 0;
    }
}

extern "C" SEALGATE_API void SEALGATE_CALL CloseSession(void* device) {
    try {
        const kit::TraceFunction trace = kit::trace_function();
        const char* name = "CloseSession";
        trace("%s---------------------------1", name);
        auto exclusive = change_binding();
        kit::Module& slot = driver_module();
        if (!slot || !device) return;
        trace("%s---------------------------2", name);
        if (auto close = slot.function<CloseDeviceFn>("CloseDevice")) {
            trace("%s---------------------------2.1", name);
            close(device);
        }
        trace("%s---------------------------3", name);
        slot.reset();
        trace("%s---------------------------4", name);
    } catch (...) {
    }
}
