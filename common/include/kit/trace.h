// Library tracing. At each traced step the libraries call the outside trace library
// "RZLog.dll", function ExtendOutputDebugString, printf-style with the operation's name first:
//     kit::trace("%s...1", "GetImgInfo");
// The arguments are handed on unchanged, so the trace library formats them itself. When the
// library or the function is missing, tracing does nothing. Short markers without arguments
// go straight to the debugger output: kit::trace_marker("MakeSeal...e.3").
#pragma once

#include "kit/platform.h"
#include "rzlog.h"

namespace kit {

using TraceFunction = ExtendOutputDebugString_fn;

// Resolved once per module and kept: the trace library is never unloaded.
TraceFunction trace_function();

template <class... Args>
void trace(const char* format, Args... args) {
    trace_function()(format, args...);
}

inline void trace_marker(const char* text) { debug_output(text); }

}  // namespace kit
