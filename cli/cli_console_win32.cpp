// Windows entry point (linked with -municode): the wide command line becomes UTF-8, so Chinese file
// names such as "QN通用升级包-2.4.1.quenta" arrive whole whatever the ANSI code page; and when
// stdout or stderr is a console, the UTF-8 text written to it is shown through WriteConsoleW, which
// is right on a code-page-936 console and on a UTF-8 (65001) one alike. Written to a file or a pipe
// the text stays UTF-8 (JSON and CSV output).
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_console.h"

namespace {

std::atomic<int> interrupts{0};
std::string notice;  // set before the handler is installed

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    if (interrupts.fetch_add(1) >= 1) _exit(kCliInterruptedExit);
    if (!notice.empty()) {
        std::fputs(notice.c_str(), stderr);
        std::fflush(stderr);
    }
    return TRUE;
}

std::string utf8Of(const wchar_t* wide) {
    const int needed = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 1) return {};
    std::string out(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), needed, nullptr, nullptr);
    out.resize(static_cast<size_t>(needed - 1));
    return out;
}

// The length of the longest prefix of `bytes` that does not end inside a UTF-8 sequence.
size_t completeUtf8Prefix(const char* bytes, size_t length) {
    for (size_t back = 1; back <= 3 && back <= length; ++back) {
        const unsigned char c = static_cast<unsigned char>(bytes[length - back]);
        if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        const size_t sequence = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return sequence > back ? length - back : length;
    }
    return length;
}

// Redirects one standard stream into a pipe whose reader thread writes the text to the console as
// UTF-16. stop() restores the stream and drains the pipe.
class ConsoleRelay {
  public:
    bool start(std::FILE* stream, HANDLE console) {
        int ends[2];
        if (_pipe(ends, 4096, _O_BINARY) != 0) return false;
        std::fflush(stream);
        stream_ = stream;
        original_ = _dup(_fileno(stream));
        if (original_ < 0 || _dup2(ends[1], _fileno(stream)) != 0) {
            _close(ends[0]);
            _close(ends[1]);
            if (original_ >= 0) _close(original_);
            original_ = -1;
            return false;
        }
        _close(ends[1]);  // the stream's descriptor is now the only writing end
        reader_ = ends[0];
        thread_ = std::thread([this, console] { relay(console); });
        return true;
    }

    void stop() {
        if (original_ < 0) return;
        std::fflush(stream_);
        _dup2(original_, _fileno(stream_));  // closes the writing end: the reader sees the end
        _close(original_);
        original_ = -1;
        thread_.join();
        _close(reader_);
    }

  private:
    void relay(HANDLE console) {
        std::string pending;
        char buffer[4096];
        for (;;) {
            const int count = _read(reader_, buffer, sizeof buffer);
            if (count <= 0) break;
            pending.append(buffer, static_cast<size_t>(count));
            const size_t ready = completeUtf8Prefix(pending.data(), pending.size());
            write(console, pending.substr(0, ready));
            pending.erase(0, ready);
        }
        write(console, pending);  // a cut sequence at the very end shows as U+FFFD
    }

    static void write(HANDLE console, const std::string& utf8) {
        if (utf8.empty()) return;
        const int length = static_cast<int>(utf8.size());
        const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
        if (needed <= 0) return;
        std::wstring wide(static_cast<size_t>(needed), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), needed);
        DWORD written = 0;
        WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    }

    std::FILE* stream_ = nullptr;
    int original_ = -1;  // the stream's own descriptor, kept while it points at the pipe
    int reader_ = -1;
    std::thread thread_;
};

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

int wmain(int argc, wchar_t** wargv) {
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<size_t>(argc));
    for (int i = 0; i < argc; ++i) arguments.push_back(utf8Of(wargv[i]));
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    ConsoleRelay out;
    ConsoleRelay err;
    if (const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE); isConsole(handle)) out.start(stdout, handle);
    if (const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE); isConsole(handle)) err.start(stderr, handle);
    const int code = cliMain(argc, argv.data());
    out.stop();
    err.stop();
    return code;
}

void cliWatchInterrupts(bool on, const char* utf8Notice) {
    if (on) {
        interrupts = 0;
        notice = utf8Notice != nullptr ? utf8Notice : "";
        SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    } else {
        SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    }
}

int cliInterruptCount() {
    return interrupts.load();
}
