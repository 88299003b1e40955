// quenta-sim: plays a whole site (address box and devices) from a JSON configuration in one process,
// until SIGINT/SIGTERM or --duration, then writes the record of every exchange as JSON.
// Also makes the demo packages (--make-demo-packages DIR).
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "sim/demo_packages.h"
#include "sim/sim_config.h"
#include "sim/sim_site.h"

namespace {

std::atomic<bool> gStop{false};

void onSignal(int) {
    gStop = true;
}

void usage(FILE* out) {
    std::fputs(
        "Usage: quenta-sim --config SITE.json [--record RECORD.json] [--duration SECONDS] [--quiet]\n"
        "       quenta-sim --make-demo-packages DIR\n"
        "Plays the address box and the devices of SITE.json until SIGINT/SIGTERM or SECONDS have\n"
        "passed, then writes what every peer received and sent to RECORD.json\n"
        "(default quenta-sim-record.json). Addresses outside 127.0.0.0/8 need a private network\n"
        "namespace: run it under sim/netns-run (the tool is then at 192.0.2.1).\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    std::string configPath, recordPath = "quenta-sim-record.json", demoFolder;
    double durationSeconds = 0;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quenta-sim: %s needs a value\n", name);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--config")
            configPath = value("--config");
        else if (a == "--record")
            recordPath = value("--record");
        else if (a == "--duration")
            durationSeconds = std::atof(value("--duration"));
        else if (a == "--make-demo-packages")
            demoFolder = value("--make-demo-packages");
        else if (a == "--quiet")
            quiet = true;
        else if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "quenta-sim: unknown argument %s\n", a.c_str());
            usage(stderr);
            return 2;
        }
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
    if (configPath.empty()) {
        usage(stderr);
        return 2;
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
