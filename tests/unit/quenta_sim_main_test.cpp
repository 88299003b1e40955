// quenta-sim's command line: generated help, the project's version, and usage errors that name the
// option at fault and exit with 2 before anything is bound or written.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "quenta_version.h"
#include "tests/support/temp_dir.h"

namespace {

struct SimRun {
    int status = -1;
    std::string output;  // stdout and stderr together
};

// Runs quenta-sim with `arguments` (shell words); absent program: status -1.
SimRun runSim(const std::string& arguments) {
    const char* binaryDir = std::getenv("QUENTA_BINARY_DIR");
    const std::string program = std::string(binaryDir ? binaryDir : "") + "/sim/quenta-sim";
    SimRun run;
    if (binaryDir == nullptr || access(program.c_str(), X_OK) != 0) return run;
    FILE* pipe = popen((program + " " + arguments + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    return run;
}

}  // namespace

TEST(QuentaSimMainTest, HelpAndVersion) {
    SimRun help = runSim("--help");
    if (help.status == -1) GTEST_SKIP() << "quenta-sim is not built";
    EXPECT_EQ(help.status, 0);
    for (const char* option :
         {"--config", "--record", "--duration", "--quiet", "--make-demo-packages", "--version"})
        EXPECT_NE(help.output.find(option), std::string::npos) << option << " missing in\n" << help.output;

    SimRun version = runSim("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, std::string("quenta-sim ") + kQuentaVersion + "\n");
}

TEST(QuentaSimMainTest, UsageErrorsNameTheOptionAndExitWith2) {
    if (runSim("--version").status == -1) GTEST_SKIP() << "quenta-sim is not built";
    quenta_test::TempDir dir;
    const std::string site = dir.file("site.json"), record = dir.file("record.json");
    ASSERT_TRUE(quenta_test::writeWholeFile(site, "{\"devices\": []}"));
    const struct {
        std::string arguments;
        const char* named;
    } bad[] = {
        {"--bogus", "--bogus"},
        {"--config", "--config"},
        {"--config " + dir.file("absent.json"), "--config"},
        {"--config " + site + " --duration soon", "--duration"},
        {"--config " + site + " --duration -1", "--duration"},
        {"--config " + site + " --make-demo-packages " + dir.path(), "--make-demo-packages"},
        {"", "--config"},
        {"--config " + site + " --quiet=maybe", "--quiet"},
    };
    for (const auto& b : bad) {
        SimRun run = runSim(b.arguments + " --record " + record);
        EXPECT_EQ(run.status, 2) << b.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(b.named), std::string::npos) << b.arguments << "\n" << run.output;
        EXPECT_EQ(run.output.rfind("quenta-sim: ", 0), 0u) << run.output;
    }
    EXPECT_TRUE(quenta_test::readWholeFile(record).empty());  // no run started, no record written

    // A configuration that does not parse is not a usage error: 1, with the file and the place.
    ASSERT_TRUE(quenta_test::writeWholeFile(site, "{\"devices\": [}"));
    SimRun broken = runSim("--config " + site + " --record " + record);
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.output.find(site + ": line 1"), std::string::npos) << broken.output;
}
