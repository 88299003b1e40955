// POSIX entry point: arguments and terminals are UTF-8 already; Ctrl+C arrives as SIGINT.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

#include "cli/cli_console.h"

namespace {

std::atomic<int> interrupts{0};
const char* notice = "";  // set before the handler is installed, read only by it
size_t noticeLength = 0;

extern "C" void onInterrupt(int) {
    // Only async-signal-safe calls here.
    if (interrupts.fetch_add(1) >= 1) _exit(kCliInterruptedExit);
    if (noticeLength > 0) {
        ssize_t ignored = write(STDERR_FILENO, notice, noticeLength);
        (void)ignored;
    }
}

}  // namespace

void cliWatchInterrupts(bool on, const char* utf8Notice) {
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    if (on) {
        interrupts = 0;
        notice = utf8Notice != nullptr ? utf8Notice : "";
        noticeLength = std::strlen(notice);
        action.sa_handler = onInterrupt;
    } else {
        action.sa_handler = SIG_DFL;
    }
    sigaction(SIGINT, &action, nullptr);
}

int cliInterruptCount() {
    return interrupts.load();
}

int main(int argc, char** argv) {
    // A reader that went away (a pipe closed early) is a write error the verbs report and exit 1
    // for, as on Windows, rather than a silent death by signal.
    std::signal(SIGPIPE, SIG_IGN);
    return cliMain(argc, argv);
}
