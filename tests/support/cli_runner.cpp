#include "tests/support/cli_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

extern char** environ;

namespace quenta_test {

std::string cliPath() {
    const char* binary = std::getenv("QUENTA_BINARY_DIR");
    return binary ? std::string(binary) + "/cli/quenta-upgrade-cli" : std::string();
}

bool cliBuilt() {
    const std::string path = cliPath();
    return !path.empty() && std::filesystem::exists(path);
}

namespace {

// Starts the program with its output in the folder's files; -1 when it did not start.
pid_t spawnCli(const std::vector<std::string>& arguments, const TempDir& folder, int stdoutDescriptor) {
    const std::string program = cliPath();
    const std::string outPath = folder.file("cli.out"), errPath = folder.file("cli.err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutDescriptor >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutDescriptor, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

CliRun finishCli(pid_t pid, const TempDir& folder, int stdoutDescriptor) {
    CliRun run;
    if (pid < 0) return run;
    const std::string outPath = folder.file("cli.out"), errPath = folder.file("cli.err");
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    if (stdoutDescriptor < 0) run.out = readWholeFile(outPath);
    run.err = readWholeFile(errPath);
    return run;
}

}  // namespace

CliRun runCli(const std::vector<std::string>& arguments, const TempDir& folder, int stdoutDescriptor) {
    return finishCli(spawnCli(arguments, folder, stdoutDescriptor), folder, stdoutDescriptor);
}

CliRun runCliInterrupted(const std::vector<std::string>& arguments, const TempDir& folder,
                         const std::string& errMarker, int interrupts) {
    const pid_t pid = spawnCli(arguments, folder, -1);
    if (pid < 0) return {};
    for (int waited = 0; waited < 6000; ++waited) {
        if (readWholeFile(folder.file("cli.err")).find(errMarker) != std::string::npos) {
            for (int i = 0; i < interrupts; ++i) {
                if (i > 0) usleep(100 * 1000);
                kill(pid, SIGINT);
            }
            break;
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid) return {};  // ended before the marker
        usleep(10 * 1000);
    }
    return finishCli(pid, folder, -1);
}

std::vector<std::string> shellWords(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false, escaped = false;
    for (char c : line) {
        if (escaped) {
            word += c;
            escaped = false;
        } else if (quoted) {
            if (c == '\'')
                quoted = false;
            else
                word += c;
        } else if (c == '\'') {
            quoted = inWord = true;
        } else if (c == '\\') {
            escaped = inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

}  // namespace quenta_test
