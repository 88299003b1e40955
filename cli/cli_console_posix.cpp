// POSIX entry point: arguments and terminals are UTF-8 already.
#include "cli/cli_console.h"

int main(int argc, char** argv) {
    return cliMain(argc, argv);
}
