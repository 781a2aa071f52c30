// Keywarden's process-wide log: one line per message, to the debugger output and to an
// hourly file "<prefix>_YYYY-MM-DD-HH.log". Callable from any thread.
#pragma once

#include <windows.h>

enum LogLevel { LOG_LEVEL_ERROR = 1, LOG_LEVEL_WARN = 2, LOG_LEVEL_INFO = 3, LOG_LEVEL_DEBUG = 4 };

// Stores the level, the module tag and the file-name prefix. Does nothing when the prefix is
// null. Called once at start-up before anything logs.
void LogInit(int level, const char* moduleTag, const char* pathPrefix);

// printf-style; one line "<label> <tag> <date time,usec-field> tid:[..] <message>\n".
void LogMessage(int level, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));

int LogLevelSetting();

// The clock the log reads the local time from. Replaceable so that hour roll-over can be
// exercised; null restores GetLocalTime.
using LogClockFn = void (*)(SYSTEMTIME* now);
void LogSetClock(LogClockFn clock);

// Traces "%s start..." now and the chosen end text when the scope ends.
class LogScope {
  public:
    explicit LogScope(const char* name) : m_name(name) {
        LogMessage(LOG_LEVEL_DEBUG, "%s start...", m_name);
    }
    ~LogScope() { LogMessage(LOG_LEVEL_DEBUG, m_end, m_name); }
    LogScope(const LogScope&) = delete;
    LogScope& operator=(const LogScope&) = delete;
    // One of "%s end...", "%s end true...", "%s end false...", "%s end ok...", ...
    void SetEnd(const char* endFormat) { m_end = endFormat; }
    const char* Name() const { return m_name; }

  private:
    const char* m_name;
    const char* m_end = "%s end...";
};
