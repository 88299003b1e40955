// Running a program for a test: see run_program.h.
#include "tests/support/run_program.h"

#include <sys/wait.h>
#include <unistd.h>

namespace quenta_test {

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
