// Private network namespaces for the tests: see netns.h.
#include "tests/support/netns.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sim/sim_config.h"

namespace quenta_test {
namespace {

// The script beside the sources: $QUENTA_SOURCE_DIR/sim/netns-run (set by CTest), else found from
// this file's own path at build time.
std::string netnsRunPath() {
    if (const char* root = std::getenv("QUENTA_SOURCE_DIR"); root != nullptr && *root != '\0') {
        std::filesystem::path path = std::filesystem::path(root) / "sim" / "netns-run";
        if (std::filesystem::exists(path)) return path.string();
    }
    std::filesystem::path here(__FILE__);
    return (here.parent_path().parent_path().parent_path() / "sim" / "netns-run").string();
}

// The current process's arguments, read from /proc (GoogleTest's main owns argv).
std::vector<std::string> ownArguments() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> arguments;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos) end = all.size();
        arguments.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return arguments;
}

[[noreturn]] void giveUp(const std::string& why) {
    const bool ci = std::getenv("CI") != nullptr;
    std::fprintf(stderr, "%s: %s\n", ci ? "FAILED (CI is set)" : "SKIPPED", why.c_str());
    std::fflush(stderr);
    std::_Exit(ci ? 1 : 77);
}

}  // namespace

bool inPrivateNamespace() {
    return simInPrivateNamespace();
}

void runInPrivateNamespace(int addresses) {
    if (inPrivateNamespace()) return;
    if (std::getenv("QUENTA_NETNS") != nullptr)
        giveUp("sim/netns-run started this test but the namespace has interfaces besides lo");
    const std::string script = netnsRunPath();
    if (access(script.c_str(), X_OK) != 0) giveUp("cannot find sim/netns-run at " + script);
    std::string self;
    std::error_code error;
    self = std::filesystem::read_symlink("/proc/self/exe", error).string();
    if (error || self.empty()) giveUp("cannot find the test binary's own path");

    std::vector<std::string> arguments = ownArguments();
    std::vector<std::string> command = {script,
                                        "--addresses",
                                        std::to_string(addresses),
                                        "--skip-status",
                                        std::getenv("CI") != nullptr ? "1" : "77",
                                        "--",
                                        self};
    for (size_t i = 1; i < arguments.size(); ++i) command.push_back(arguments[i]);
    std::vector<char*> argv;
    for (std::string& part : command) argv.push_back(part.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    execv(script.c_str(), argv.data());
    giveUp("cannot run " + script);
}

std::string siteAddress(int n) {
    std::optional<std::string> address = simSiteAddress(n);
    return address ? *address : std::string();
}

ProgramRun runProgram(const std::vector<std::string>& arguments) {
    ProgramRun run;
    if (arguments.empty()) return run;
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0) return run;
    const pid_t child = fork();
    if (child == 0) {
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) run.output.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    if (run.status == 127 && access(argv[0], X_OK) != 0) run.status = -1;
    return run;
}

}  // namespace quenta_test
