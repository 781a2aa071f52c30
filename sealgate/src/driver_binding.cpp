#include "driver_binding.h"

namespace sealgate {

kit::Module& driver_module() {
    // Unloading Sealgate itself with a session still open also lets go of the driver.
    static kit::Module slot;
    return slot;
}

}  // namespace sealgate
