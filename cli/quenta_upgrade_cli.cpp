// quenta-upgrade-cli: the headless front end. One verb per command line:
//   quenta-upgrade-cli VERB [OPTIONS...]
// Each verb is a subcommand; its options, --help and usage errors come from one declaration
// (cliAdd...Options). Usage errors exit 2 before a verb is chosen and for inspect, 1 for query and
// upgrade (whose 2 means a device failed).
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/cli_console.h"
#include "cli/cli_flow.h"
#include "cli/cli_package_verb.h"
#include "quenta_version.h"

namespace {

constexpr char kProgram[] = "quenta-upgrade-cli";

}  // namespace

int cliMain(int argc, char** argv) {
    CLI::App app(
        "Upgrades the firmware of a site's devices without a window: the window's checks,\n"
        "messages (on stderr), statuses and selection rules.",
        kProgram);
    app.set_version_flag("--version", std::string(kProgram) + " " + kQuentaVersion);
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Print the help of every verb and exit");  // the man page
    app.footer(std::string("'") + kProgram + " VERB --help' describes one verb.");

    std::string inspectPath;
    CLI::App* inspect = app.add_subcommand("inspect",
                                           "check an upgrade package and print its models, version, kind, "
                                           "platform, digest");
    cliAddInspectOptions(*inspect, inspectPath);

    CliFlowOptions queryOptions;
    CLI::App* query =
        app.add_subcommand("query", "list the site's devices as the window shows them after a query");
    cliAddFlowOptions(*query, queryOptions);

    CliFlowOptions upgradeOptions;
    upgradeOptions.upgrade = true;
    CLI::App* upgrade =
        app.add_subcommand("upgrade", "query (or add --ip addresses), then upgrade the selected devices");
    cliAddFlowOptions(*upgrade, upgradeOptions);
    upgrade->footer(
        "The version is verified after the reboot (default 300 s per device); exit 0 all upgraded,\n"
        "2 any failed, 1 refused or the report could not be written.");

    std::ostringstream shown, problems;
    auto flush = [&] {
        std::fputs(shown.str().c_str(), stdout);
        std::fputs(problems.str().c_str(), stderr);
    };
    // "help" as a verb, as before: the overview.
    if (argc == 2 && std::strcmp(argv[1], "help") == 0) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    }
    // No verb at all: the overview on stderr.
    if (argc < 2) {
        std::fputs(app.help().c_str(), stderr);
        return 2;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
            app.exit(e, shown, problems);  // --help or --version
            flush();
            return 0;
        }
        const CLI::App* verb = nullptr;
        for (const CLI::App* sub : {inspect, query, upgrade})
            if (sub->parsed()) verb = sub;
        std::string message = e.what();
        if (verb == nullptr && argv[1][0] != '-')
            message = std::string("unknown verb '") + argv[1] + "' (inspect, query or upgrade)";
        else if (verb == nullptr)
            message = std::string("unknown option '") + argv[1] + "' (--help, --version or a verb)";
        const std::string helpCommand =
            std::string(kProgram) + (verb ? " " + verb->get_name() : std::string()) + " --help";
        std::fprintf(stderr, "%s: %s\nRun '%s' for the usage.\n", kProgram, message.c_str(),
                     helpCommand.c_str());
        return verb == query || verb == upgrade ? 1 : 2;
    }

    if (inspect->parsed()) return cliInspect(inspectPath, stdout, stderr);
    if (query->parsed()) return cliRunFlow(queryOptions, stdout, stderr);
    return cliRunFlow(upgradeOptions, stdout, stderr);
}
