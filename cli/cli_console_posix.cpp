// POSIX entry point: arguments and terminals are UTF-8 already.
#include <csignal>

#include "cli/cli_console.h"

int main(int argc, char** argv) {
    // A reader that went away (a pipe closed early) is a write error the verbs report and exit 1
    // for, as on Windows, rather than a silent death by signal.
    std::signal(SIGPIPE, SIG_IGN);
    return cliMain(argc, argv);
}
