#include "ss/ss_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "ss/ss_dir.h"
#include "ss/ss_platform.h"

namespace {

constexpr const char* kLevelNames[] = {"TRACE", "DEBUG", "INFO", "WARN", "ERROR", "FATAL"};
constexpr long kRotateSize = 1048576;  // 1 MiB
constexpr int kOutputStderr = 1;
constexpr int kOutputFile = 2;
constexpr size_t kMaxFileName = 255;

const char* levelName(int level) {
    if (level < 0 || level >= static_cast<int>(std::size(kLevelNames))) return "";
    return kLevelNames[level];
}

// The process-wide log. `lock` is recursive because the file operations of the rotation may log a
// failure from inside a line; such nested lines are dropped (there is no stream during rotation).
struct LogState {
    std::atomic<int> openCount{0};             // read without the lock; written under it
    std::atomic<int> threshold{SS_LOG_DEBUG};  // read without the lock; written under it
    std::recursive_mutex lock;
    int outputKind = kOutputStderr;  // guarded by lock
    int lineStyle = 3;               // guarded by lock
    std::string filePath;            // guarded by lock; narrow (GBK) name given to ss_log_open
    int keptFiles = 0;               // guarded by lock
    FILE* stream = nullptr;          // guarded by lock
    std::string timeText;            // guarded by lock; local time of the last line
    bool rotating = false;           // guarded by lock
};

LogState& state() {
    static LogState log;
    return log;
}

void closeStream(LogState& log) {
    if (log.stream != nullptr && log.stream != stderr) std::fclose(log.stream);
    log.stream = nullptr;
}

// Shifts P -> P.1 -> ... -> P.4, deleting P.4. Runs with no stream open.
void ss_log_rotate() {
    LogState& log = state();
    log.rotating = true;
    const std::string& path = log.filePath;
    for (int i = log.keptFiles - 1; i >= 0; --i) {
        std::string name = i == 0 ? path : path + "." + std::to_string(i);
        int attributes = ss_file_attributes(name.c_str());
        if (attributes == -1 || (attributes & SS_FILE_ATTRIBUTE_DIRECTORY)) continue;
        if (i == log.keptFiles - 1)
            deletefile(name.c_str());
        else
            ss_file_move(name.c_str(), (path + "." + std::to_string(i + 1)).c_str());
    }
    log.rotating = false;
}

// Before every line: rotate when the file reached 1 MiB. A file that could not be reopened after a
// rotation is tried again before the next line.
void ss_log_checkSize() {
    LogState& log = state();
    if (log.outputKind != kOutputFile || log.rotating) return;
    if (log.stream == nullptr) {
        log.stream = ss_platform_fopen(log.filePath.c_str(), "a+");
        if (log.stream != nullptr) fseeko(log.stream, 0, SEEK_END);
        return;
    }
    if (ftello(log.stream) < kRotateSize) return;
    closeStream(log);
    ss_log_rotate();
    log.stream = ss_platform_fopen(log.filePath.c_str(), "w");
}

void refreshTime(LogState& log) {
    log.timeText = ss_platform_localTimeText();
}

std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<size_t>(length));
    }
    va_end(args);
    return text;
}

}  // namespace

// The banner ignores the threshold and never rotates.
void ss_log_banner(const char* message) {
    LogState& log = state();
    if (log.openCount == 0) return;
    std::lock_guard<std::recursive_mutex> guard(log.lock);
    if (log.stream == nullptr) return;
    refreshTime(log);
    std::string text = formatText("%s %s Log level[%s]", log.timeText.c_str(),
                                  message != nullptr ? message : "", levelName(log.threshold));
    const std::string rule(78, '=');
    std::fprintf(log.stream, "%s\n", rule.c_str());
    if (text.size() < 78) std::fprintf(log.stream, "%s", std::string((78 - text.size()) / 2, ' ').c_str());
    std::fprintf(log.stream, "%s\n", text.c_str());
    std::fprintf(log.stream, "%s\n", rule.c_str());
    std::fflush(log.stream);
}

int ss_log_open(const char* fileName) {
    LogState& log = state();
    std::string name = fileName != nullptr && fileName[0] != '\0' ? fileName : "ss_log.log";
    // The name is kept whole or not at all: a cut name would log into another file.
    if (name.size() > kMaxFileName) return -1;
    {
        std::lock_guard<std::recursive_mutex> guard(log.lock);
        log.threshold = SS_LOG_DEBUG;
        log.outputKind = kOutputFile;
        log.lineStyle = 3;
        log.filePath = name;
        log.keptFiles = 5;
        if (log.openCount == 0) {
            if (log.stream == nullptr)
                log.stream =
                    log.outputKind == kOutputFile ? ss_platform_fopen(log.filePath.c_str(), "a+") : stderr;
            if (log.stream == nullptr) return -1;
            // "a+" reads from the start: the size check needs the position at the end.
            fseeko(log.stream, 0, SEEK_END);
            log.openCount = 1;
        }
    }
    ss_log_banner("Start log system.");
    return 0;
}

int ss_log_close() {
    LogState& log = state();
    if (log.openCount == 0) return 0;
    ss_log_banner("Stop log system.");
    std::lock_guard<std::recursive_mutex> guard(log.lock);
    if (log.outputKind == kOutputFile) closeStream(log);
    log.stream = nullptr;
    log.openCount = 0;
    log.threshold = SS_LOG_DEBUG;
    log.outputKind = kOutputStderr;
    log.timeText.clear();
    return 0;
}

int ss_log_write(int level, const char* file, int line, const char* function, const char* format, ...) {
    LogState& log = state();
    if (log.openCount == 0 || level < log.threshold || format == nullptr || format[0] == '\0') return 0;
    std::optional<std::string> component = ss_path_basename(file);
    const char* fileText = component ? component->c_str() : "(null)";
    const char* functionText = function != nullptr ? function : "(null)";
    bool endsWithNewline = format[std::strlen(format) - 1] == '\n';

    std::lock_guard<std::recursive_mutex> guard(log.lock);
    if (log.openCount == 0) return 0;
    ss_log_checkSize();
    if (log.stream == nullptr) return 0;
    refreshTime(log);
    const char* name = levelName(level);
    switch (log.lineStyle) {
        case 0:
            std::fprintf(log.stream, "|%-6s| ", name);
            break;
        case 1:
            std::fprintf(log.stream, "%s |%-6s| ", log.timeText.c_str(), name);
            break;
        case 2:
            std::fprintf(log.stream, "%s |%-6s|%4d| %s| ", log.timeText.c_str(), name, line, fileText);
            break;
        case 3:
            std::fprintf(log.stream, "%s |%-6s|%4d| %s->%s | ", log.timeText.c_str(), name, line, fileText,
                         functionText);
            break;
        default:
            break;
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(log.stream, format, args);  // no length limit: the message is written whole
    va_end(args);
    if (!endsWithNewline) std::fputc('\n', log.stream);
    std::fflush(log.stream);
    return 0;
}

void ss_log_traceWrite(const char* format, ...) {
    LogState& log = state();
    va_list args;
    va_start(args, format);
    if (log.openCount != 0) {
        // Taken so that a rotation cannot swap the stream under the trace line.
        std::lock_guard<std::recursive_mutex> guard(log.lock);
        if (log.stream != nullptr) {
            std::vfprintf(log.stream, format, args);
            std::fflush(log.stream);
        }
    } else {
        std::vprintf(format, args);
    }
    va_end(args);
}

std::string ss_log_currentPath() {
    LogState& log = state();
    std::lock_guard<std::recursive_mutex> guard(log.lock);
    if (log.openCount == 0 || log.outputKind != kOutputFile) return {};
    return ss_platform_mapPath(log.filePath.c_str());
}
