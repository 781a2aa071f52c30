// The life of the process-wide driver binding.
//
// open_session loads the driver on every call (the platform counts the loads) and overwrites
// the slot; close_session unloads once and clears it. So after two InitialSession calls the
// first CloseSession ends the binding for both handles, and every call fails until the next
// InitialSession; a failed InitialSession whose load succeeded leaves the driver bound.
#include "session.h"

#include "driver_binding.h"
#include "kit/platform.h"
#include "kit/trace.h"
#include "sealgate.h"

namespace sealgate {

int open_session(void** device) {
    const kit::TraceFunction trace = kit::trace_function();
    const char* name = "InitialSession";
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
}

void close_session(void* device) {
    const kit::TraceFunction trace = kit::trace_function();
    const char* name = "CloseSession";
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
}

}  // namespace sealgate
