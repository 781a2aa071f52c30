#include "kit/trace.h"

namespace kit {
namespace {

void VENDOR_CALL trace_nothing(const char*, ...) {}

TraceFunction resolve_trace_function() {
    Module rzlog = Module::load(RZLOG_LIBRARY_NAME);
    auto fn = rzlog.function<TraceFunction>(RZLOG_TRACE_FUNCTION);
    if (!fn) return &trace_nothing;
    rzlog.release();
    return fn;
}

}  // namespace

TraceFunction trace_function() {
    static const TraceFunction fn = resolve_trace_function();
    return fn;
}

}  // namespace kit
