// Runs the built quenta-upgrade-cli as a separate process, its output and errors caught in files of a
// temporary folder, for the tests of the command line (Linux only).
#pragma once

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace quenta_test {

struct CliRun {
    int exitCode = -1;  // -1: not started, or ended by a signal
    std::string out, err;
};

// <build>/cli/quenta-upgrade-cli from QUENTA_BINARY_DIR; empty when that is not set.
std::string cliPath();
bool cliBuilt();
// stdoutDescriptor >= 0: the program's standard output is that descriptor (a pipe, a device) instead
// of a file; `out` is then empty.
CliRun runCli(const std::vector<std::string>& arguments, const TempDir& folder, int stdoutDescriptor = -1);
// The same, interrupted as Ctrl+C does: once `errMarker` shows on its standard error, SIGINT is sent
// `interrupts` times, 100 ms apart. No marker within 60 s: no signal, the run goes on to its end.
CliRun runCliInterrupted(const std::vector<std::string>& arguments, const TempDir& folder,
                         const std::string& errMarker, int interrupts);

// A shell-like command line split into words: blanks separate, '…' quotes (with '\'' for a quote).
std::vector<std::string> shellWords(const std::string& line);
std::string shellQuoted(const std::string& text);

}  // namespace quenta_test
