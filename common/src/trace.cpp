#include "kit/trace.h"

namespace kit {
namespace {

void trace_nothing(const char*, ...) {}

TraceFunction resolve_trace_function() {
    Module rzlog = Module::load("RZLog.dll");
    auto fn = rzlog.function<TraceFunction>("ExtendOutputDebugString");
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
