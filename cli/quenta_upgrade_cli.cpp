// quenta-upgrade-cli: the headless front end. One verb per command line:
//   quenta-upgrade-cli VERB [ARGS...]
// A verb is one entry of kVerbs; add a line there (and its cli_<verb>.{h,cpp}) to add one.
#include <cstdio>
#include <cstring>
#include <span>

#include "cli/cli_console.h"
#include "cli/cli_flow.h"
#include "cli/cli_package_verb.h"

namespace {

struct CliVerb {
    const char* name;
    const char* arguments;  // shown after the name in the help
    const char* summary;
    // argv[0] is the verb itself; returns the exit code.
    int (*run)(int argc, char** argv, std::FILE* out, std::FILE* err);
};

constexpr CliVerb kVerbs[] = {
    {"inspect", "PACKAGE", "check an upgrade package and print its models, version, kind, platform, digest",
     cliInspect},
    {"query", "--package P --address-box IP ...",
     "list the site's devices as the window shows them after a query", cliQuery},
    {"upgrade", "--package P --address-box IP ...",
     "query (or add --ip addresses), then upgrade the selected devices", cliUpgrade},
};

void printHelp(std::FILE* stream) {
    std::fputs("usage: quenta-upgrade-cli VERB [ARGS...]\n\nverbs:\n", stream);
    for (const CliVerb& verb : kVerbs) {
        char head[64];
        std::snprintf(head, sizeof head, "%s %s", verb.name, verb.arguments);
        std::fprintf(stream, "  %-26s %s\n", head, verb.summary);
    }
    std::fputs("\n'quenta-upgrade-cli VERB --help' describes one verb.\n", stream);
}

}  // namespace

int cliMain(int argc, char** argv) {
    if (argc < 2) {
        printHelp(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        printHelp(stdout);
        return 0;
    }
    for (const CliVerb& verb : std::span(kVerbs)) {
        if (std::strcmp(argv[1], verb.name) == 0) return verb.run(argc - 1, argv + 1, stdout, stderr);
    }
    std::fprintf(stderr, "quenta-upgrade-cli: unknown verb '%s'\n\n", argv[1]);
    printHelp(stderr);
    return 2;
}
