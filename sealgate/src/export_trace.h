// The first trace step of an export, written by the exports' frame and by GetSealStatus before
// each reading it does as GetSealCount or GetSealInfo would, so a trace shows those readings as
// the exports show them.
#pragma once

#include "kit/trace.h"

namespace sealgate {

inline void trace_entry(const char* name) {
    kit::trace_function()("%s---------------------------1", name);
}

// The seal readers' first step carries the mode after two full-width colons (code page 936).
inline void trace_entry(const char* name, int mode) {
    kit::trace_function()("%s---------------------------1\xA3\xBA\xA3\xBA%d", name, mode);
}

}  // namespace sealgate
