// quenta-sim: plays a whole site (address box and devices) from a JSON configuration in one process,
// until SIGINT/SIGTERM or --duration, then writes the record of every exchange as JSON.
// Also makes the demo packages (--make-demo-packages DIR). Usage errors exit with 2.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include <CLI/CLI.hpp>

#include "quenta_version.h"
#include "sim/demo_packages.h"
#include "sim/sim_config.h"
#include "sim/sim_site.h"

namespace {

std::atomic<bool> gStop{false};

void onSignal(int) {
    gStop = true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string configPath, recordPath = "quenta-sim-record.json", demoFolder;
    double durationSeconds = 0;
    bool quiet = false;

    CLI::App app(
        "Plays the address box and the devices of SITE.json until SIGINT/SIGTERM or SECONDS have passed,\n"
        "then writes what every peer received and sent to RECORD.json. Addresses outside 127.0.0.0/8\n"
        "need a private network namespace: run it under sim/netns-run (the tool is then at 192.0.2.1).",
        "quenta-sim");
    app.set_version_flag("--version", std::string("quenta-sim ") + kQuentaVersion);
    CLI::Option* configOption =
        app.add_option("--config", configPath, "the site to play (JSON, see sim/README.md)")
            ->type_name("SITE.json")
            ->check(CLI::ExistingFile);
    app.add_option("--record", recordPath, "where the record goes on exit")
        ->type_name("RECORD.json")
        ->capture_default_str();
    app.add_option("--duration", durationSeconds, "stop after this many seconds (0: at SIGINT/SIGTERM only)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.0, 31536000.0));
    app.add_flag("--quiet", quiet, "print nothing but errors");
    app.add_option("--make-demo-packages", demoFolder, "write the demo site's three packages to DIR and exit")
        ->type_name("DIR")
        ->excludes(configOption);
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return std::string("quenta-sim: ") + e.what() + "\nRun with --help for more information.\n";
    });
    try {
        app.parse(argc, argv);
        if (configPath.empty() && demoFolder.empty())
            throw CLI::RequiredError("--config SITE.json or --make-demo-packages DIR");
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);  // prints help, version or the error
        return code == 0 ? 0 : 2;
    }

    if (!demoFolder.empty()) {
        std::string error;
        std::vector<std::string> made;
        if (makeDemoPackages(demoFolder, made, error) != 0) {
            std::fprintf(stderr, "quenta-sim: %s\n", error.c_str());
            return 1;
        }
        for (const auto& path : made) std::printf("%s\n", path.c_str());
        return 0;
    }
    SimConfig config;
    std::string error;
    if (simConfigLoad(configPath, config, error) != 0) {
        std::fprintf(stderr, "quenta-sim: %s\n", error.c_str());
        return 1;
    }
    SimSite site(config);
    if (site.open(error) != 0) {
        std::fprintf(stderr, "quenta-sim: %s\n", error.c_str());
        return 1;
    }

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    if (!quiet) {
        std::printf("quenta-sim: %d peers", site.peerCount());
        if (config.addressBox) std::printf(", address box at %s", config.addressBox->device.ip.c_str());
        std::printf("; devices %s .. %s\n", config.devices.empty() ? "-" : config.devices.front().ip.c_str(),
                    config.devices.empty() ? "-" : config.devices.back().ip.c_str());
        std::fflush(stdout);
    }
    const int durationMs = durationSeconds > 0 ? static_cast<int>(durationSeconds * 1000) : 0;
    site.run(durationMs, &gStop);

    SimRecord record = site.record();
    std::ofstream out(recordPath, std::ios::binary | std::ios::trunc);
    out << simRecordToJson(record);
    out.close();
    if (!out) {
        std::fprintf(stderr, "quenta-sim: cannot write %s\n", recordPath.c_str());
        return 1;
    }
    if (!quiet) {
        std::printf(
            "quenta-sim: %zu datagrams, %zu uploads, %zu reboots, at most %d transfers at once; record in "
            "%s\n",
            record.datagrams.size(), record.uploads.size(), record.reboots.size(),
            record.maxConcurrentTransfers, recordPath.c_str());
    }
    return 0;
}
