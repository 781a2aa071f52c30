// Trace markers whose labels carry Chinese text: narrow debugger output is in the system ANSI
// code page, so the UTF-8 source text is converted once.
#pragma once

#include <string>

#include "kit/trace.h"

namespace sealform {

inline void mark(const char* label) { kit::trace_marker(label); }
inline void mark(const std::string& text) { kit::trace_marker(text.c_str()); }

inline void trace_marker_utf8(const char* utf8) { kit::trace_marker(kit::from_utf8(utf8).c_str()); }

}  // namespace sealform
