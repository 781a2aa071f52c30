#include "driver_binding.h"

namespace sealgate {

kit::Module& driver_module() {
    // Deliberately never destroyed: unloading the driver belongs to CloseSession, not to the
    // order in which a process tears down its statics.
    static kit::Module* slot = new kit::Module();
    return *slot;
}

}  // namespace sealgate
