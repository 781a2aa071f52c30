#include "driver_binding.h"

#include <cstdint>
#include <functional>

namespace sealgate {
namespace {

std::shared_mutex& binding_lock() {
    static std::shared_mutex lock;
    return lock;
}

// One lock per device handle would need a table that outlives every handle; a fixed set of
// locks chosen by the handle's hash serialises each session with a bounded cost.
std::mutex& session_lock(void* device) {
    static std::mutex locks[61];
    return locks[std::hash<void*>()(device) % 61];
}

}  // namespace

kit::Module& driver_module() {
    // Unloading Sealgate itself with a session still open also lets go of the driver.
    static kit::Module slot;
    return slot;
}

DriverCall::DriverCall(void* device)
    : device_(device), binding_(binding_lock(), std::defer_lock), session_(session_lock(device)) {
#ifndef KIT_PLANTED_RACE  // a test-only build leaves this lock out: see the thread tests
    binding_.lock();
#endif
}

std::unique_lock<std::shared_mutex> change_binding() {
    return std::unique_lock<std::shared_mutex>(binding_lock());
}

}  // namespace sealgate
