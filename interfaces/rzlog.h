/* The trace library "RZLog.dll" as the libraries call it: one function, looked up by name,
 * printf-style with the traced operation's name among the arguments. The library formats the
 * arguments itself and writes the line wherever it is configured to. */
#ifndef RZLOG_H
#define RZLOG_H

#include "vendor_call.h"

#ifdef __cplusplus
extern "C" {
#endif

#define RZLOG_LIBRARY_NAME "RZLog.dll"
#define RZLOG_TRACE_FUNCTION "ExtendOutputDebugString"

typedef void(VENDOR_CALL* ExtendOutputDebugString_fn)(const char* format, ...);

#ifdef __cplusplus
}
#endif

#endif
