// The system's last error code, as the load failure trace reports it.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#endif

namespace sealgate {

inline int last_system_error() {
#if defined(_WIN32)
    return static_cast<int>(GetLastError());
#else
    return errno;
#endif
}

}  // namespace sealgate
