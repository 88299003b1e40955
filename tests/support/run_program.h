// Runs another program of the build (or a script) for a test: argv as given, no shell in between,
// standard output and error collected together.
#pragma once

#include <string>
#include <vector>

namespace quenta_test {

struct ProgramRun {
    int status = -1;     // exit status; -1 when it could not be started, -2 when killed by a signal
    std::string output;  // stdout and stderr, interleaved as written
};

ProgramRun runProgram(const std::vector<std::string>& argv);

}  // namespace quenta_test
