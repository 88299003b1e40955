// The verbs `query` and `upgrade` of quenta-upgrade-cli: the window's batch flow run headless, with
// the device list printed as the window shows it (table, csv or json).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace CLI {
class App;
}

struct CliFlowOptions {
    bool upgrade = false;  // the verb: query or upgrade
    std::string package, addressBox, format = "table";
    std::vector<std::string> models;  // --models, comma lists (given or not: modelsGiven)
    std::vector<std::string> ips;     // --ip, upgrade only
    bool modelsGiven = false, showFailed = false, all = false, quiet = false;
    bool verify = true, recover = false;
    int verifyTimeoutSeconds = 300, retries = 0;
    // Stages, cap and brake (upgrade only): --no-stages, --brake-percent, --brake-min, and the
    // answer to the question after failed first devices.
    bool stages = true, continueAfterFirstFailure = false;
    int brakePercent = 10, brakeMin = 3;
    std::string report;  // --report FILE.csv|FILE.json
};

// Declares the verb's options on its subcommand; parsing fills `options` (which must outlive it).
void cliAddFlowOptions(CLI::App& verb, CliFlowOptions& options);
// Runs a parsed query or upgrade; returns the exit code (0 done, 1 refused, 2 a device failed,
// kCliInterruptedExit when Ctrl+C cancelled the run).
int cliRunFlow(CliFlowOptions& options, std::FILE* out, std::FILE* err);
