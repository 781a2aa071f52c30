#include "log.h"

#include <share.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <mutex>

namespace {

int g_level = 1;
char g_tag[260];
char g_prefix[260];
std::atomic<LogClockFn> g_clock{nullptr};

// Lines of concurrent threads are written one after the other: without this, two appends of
// the same moment could interleave inside the file.
std::mutex& FileMutex() {
    static std::mutex m;
    return m;
}

const char* Label(int level) {
    switch (level) {
        case LOG_LEVEL_ERROR:
            return "[ERROR] ";
        case LOG_LEVEL_WARN:
            return "[WARN] ";
        case LOG_LEVEL_INFO:
            return "[INFO] ";
        case LOG_LEVEL_DEBUG:
            return "[DEBUG] ";
    }
    return nullptr;
}

}  // namespace

void LogInit(int level, const char* moduleTag, const char* pathPrefix) {
    if (!pathPrefix) return;
    g_level = level;
    memset(g_tag, 0, sizeof g_tag);
    if (moduleTag) strncpy(g_tag, moduleTag, sizeof g_tag - 1);
    memset(g_prefix, 0, sizeof g_prefix);
    strncpy(g_prefix, pathPrefix, sizeof g_prefix - 1);
}

int LogLevelSetting() { return g_level; }

void LogSetClock(LogClockFn clock) { g_clock.store(clock); }

void LogMessage(int level, const char* format, ...) {
    if (level > g_level) return;
    const char* label = Label(level);
    if (!label) return;

    SYSTEMTIME st;
    if (LogClockFn clock = g_clock.load())
        clock(&st);
    else
        GetLocalTime(&st);

    char line[4096];
    memset(line, 0, sizeof line);
    // One byte stays free for the line feed, whatever the message's length.
    const size_t room = sizeof line - 1;
    int n = snprintf(line, room, "%s%s %04d-%02d-%02d %02d:%02d:%02d,%06d tid:[%#x] ", label, g_tag,
                     st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
                     st.wMilliseconds, static_cast<unsigned>(GetCurrentThreadId()));
    size_t used = n < 0 ? 0 : (static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room - 1);
    va_list args;
    va_start(args, format);
    int m = vsnprintf(line + used, room - used, format, args);
    va_end(args);
    if (m > 0)
        used += static_cast<size_t>(m) < room - used ? static_cast<size_t>(m) : room - used - 1;
    line[used++] = '\n';
    line[used] = '\0';

    OutputDebugStringA(line);

    char fileName[260];
    int k = snprintf(fileName, sizeof fileName, "%s_%04d-%02d-%02d-%02d.log", g_prefix, st.wYear,
                     st.wMonth, st.wDay, st.wHour);
    if (k < 0 || static_cast<size_t>(k) >= sizeof fileName) return;

    std::lock_guard<std::mutex> hold(FileMutex());
    FILE* f = _fsopen(fileName, "at", _SH_DENYNO);
    if (!f) return;
    fwrite(line, 1, used, f);
    fflush(f);
    fclose(f);
}
