// Stand-in for the trace library "RZLog.dll". ExtendOutputDebugString formats its arguments
// printf-style and appends the line to the file named by RZLOG_FILE; without that variable
// the line goes nowhere. Each line is one append, so lines of concurrent callers never mix.
#include "rzlog.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "kit/platform.h"

#define RZLOG_EXPORT extern "C" KIT_EXPORT

namespace {
std::mutex g_write_lock;
}

RZLOG_EXPORT void VENDOR_CALL ExtendOutputDebugString(const char* format, ...) {
    const char* sink = std::getenv("RZLOG_FILE");
    if (!sink || !*sink || !format) return;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string line;
    if (n > 0) {
        line.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(line.data(), line.size(), format, args);
        line.resize(static_cast<size_t>(n));
    }
    va_end(args);
    line.push_back('\n');
    std::lock_guard<std::mutex> lock(g_write_lock);
    if (FILE* f = std::fopen(sink, "ab")) {
        std::fwrite(line.data(), 1, line.size(), f);
        std::fclose(f);
    }
}
