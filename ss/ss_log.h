// The one diagnostic log of the process: timestamped lines tagged with level, source file, line and
// function, written to a file that rotates at 1 MiB over five files (the file and copies .1 to .4).
// The log is off until ss_log_open succeeds and again after ss_log_close: until then every call
// returns at once and writes nothing. Any thread may log; whole lines never interleave.
#pragma once

// The format checks of the printf-like functions. MinGW's C++ runtime formats with its GNU-style
// printf (%zu, %lld), but its "printf" archetype checks the Microsoft one.
#ifdef __MINGW32__
#define SS_PRINTF_FORMAT gnu_printf
#else
#define SS_PRINTF_FORMAT printf
#endif

#include <string>

enum { SS_LOG_TRACE = 0, SS_LOG_DEBUG, SS_LOG_INFO, SS_LOG_WARN, SS_LOG_ERROR, SS_LOG_FATAL };

// Opens (or, when already open, re-initialises) the log on a narrow (GBK) file name, mapped by the
// platform layer; null or empty means "ss_log.log" in the working folder. Writes the start banner.
// 0, or -1 when the file cannot be opened (or the name has 256 bytes or more); the log stays closed.
int ss_log_open(const char* fileName);

// Writes the stop banner and closes the file. Always 0.
int ss_log_close();

// Writes one line: prefix "%s |%-6s|%4d| %s->%s | " (local time, level name, line, last component of
// `file`, function), the formatted message whole, and "\n" unless the format ends with one.
// Lines below the threshold (DEBUG) are dropped. Always 0.
int ss_log_write(int level, const char* file, int line, const char* function, const char* format, ...)
    __attribute__((format(SS_PRINTF_FORMAT, 5, 6)));

#define SS_LOG(level, ...) ss_log_write(level, __FILE__, __LINE__, __func__, __VA_ARGS__)
#define SS_LOG_FN(level, function, ...) ss_log_write(level, __FILE__, __LINE__, function, __VA_ARGS__)

// Writes a raw formatted text (no prefix, no newline added) into the log stream when the log is open,
// otherwise to standard output. Used by the lock trace of ss_thread.
void ss_log_traceWrite(const char* format, ...) __attribute__((format(SS_PRINTF_FORMAT, 1, 2)));

// Internal: writes a banner (a rule of 78 "=", the centred text "<time> <message> Log level[<name>]",
// another rule) whatever the threshold. Nothing when the log is closed.
void ss_log_banner(const char* message);

// The local (UTF-8) path of the open log file, "" when the log is closed. For tests and diagnostics.
std::string ss_log_currentPath();
