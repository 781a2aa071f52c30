// The life of the process-wide driver binding: InitialSession and CloseSession's work.
#pragma once

namespace sealgate {

// Loads the key driver (on every call, as the platform counts loads), overwrites the binding
// and opens a device: 1 with its handle in `device`, 0 otherwise.
int open_session(void** device);

// Closes the device and unloads the driver once, clearing the binding for every handle.
void close_session(void* device);

}  // namespace sealgate
