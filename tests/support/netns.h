// Private network namespaces for the tests that talk to the simulated site on documentation
// addresses. A test binary asks to run inside one; when it is not yet in one, the helper re-executes
// the binary (same arguments) through sim/netns-run, which makes a namespace with only lo and the
// documentation prefixes on it. Where no namespace can be made the test is skipped (exit 77) with a
// message, or fails when the environment variable CI is set.
#pragma once

#include <string>
#include <vector>

namespace quenta_test {

// True when the current network namespace holds no interface but lo.
bool inPrivateNamespace();

// Returns at once inside a private namespace. Otherwise re-executes the current binary through
// sim/netns-run with `addresses` site addresses and never returns (the exit status is the binary's);
// exits 77 (skip) or, with CI set, 1 when that is impossible.
void runInPrivateNamespace(int addresses);

// Runs a program of the build or a script (sim/netns-run, quenta-sim): argv as given, no shell in
// between, standard output and error collected together.
struct ProgramRun {
    int status = -1;     // exit status; -1 when it could not be started, -2 when killed by a signal
    std::string output;  // stdout and stderr, interleaved as written
};
ProgramRun runProgram(const std::vector<std::string>& argv);

// The tool's address inside the namespace (the kernel's source for datagrams to the site).
inline const char* toolAddress() {
    return "192.0.2.1";
}
// The n-th site address (n from 0): 192.0.2.2, 192.0.2.3, ... (see simSiteAddress).
std::string siteAddress(int n);

}  // namespace quenta_test

// Put at file scope in a test file: the whole binary runs in a private namespace.
#define QUENTA_TEST_IN_PRIVATE_NAMESPACE(addresses)        \
    static const int quenta_test_private_namespace_ = [] { \
        quenta_test::runInPrivateNamespace(addresses);     \
        return 0;                                          \
    }()
