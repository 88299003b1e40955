// quenta-sim's command line: generated help, the project's version, and usage errors that name the
// option at fault and exit with 2 before anything is bound or written.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quenta_version.h"
#include "tests/support/netns.h"
#include "tests/support/temp_dir.h"

namespace {

using quenta_test::ProgramRun;

// Runs the built quenta-sim with `arguments`; status -1 when it is not built.
ProgramRun runSim(std::vector<std::string> arguments) {
    const char* binaryDir = std::getenv("QUENTA_BINARY_DIR");
    if (binaryDir == nullptr) return {};
    arguments.insert(arguments.begin(), std::string(binaryDir) + "/sim/quenta-sim");
    return quenta_test::runProgram(arguments);
}

}  // namespace

TEST(QuentaSimMainTest, HelpAndVersion) {
    ProgramRun help = runSim({"--help"});
    if (help.status == -1) GTEST_SKIP() << "quenta-sim is not built";
    EXPECT_EQ(help.status, 0);
    for (const char* option :
         {"--config", "--record", "--duration", "--quiet", "--make-demo-packages", "--version"})
        EXPECT_NE(help.output.find(option), std::string::npos) << option << " missing in\n" << help.output;

    ProgramRun version = runSim({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output, std::string("quenta-sim ") + kQuentaVersion + "\n");
}

TEST(QuentaSimMainTest, UsageErrorsNameTheOptionAndExitWith2) {
    if (runSim({"--version"}).status == -1) GTEST_SKIP() << "quenta-sim is not built";
    quenta_test::TempDir dir;
    const std::string site = dir.file("site.json"), record = dir.file("record.json");
    ASSERT_TRUE(quenta_test::writeWholeFile(site, "{\"devices\": []}"));
    const struct {
        std::vector<std::string> arguments;
        const char* named;
    } bad[] = {
        {{"--bogus"}, "--bogus"},
        {{"--config"}, "--config"},
        {{"--config", dir.file("absent.json")}, "--config"},
        {{"--config", site, "--duration", "soon"}, "--duration"},
        {{"--config", site, "--duration", "-1"}, "--duration"},
        {{"--config", site, "--make-demo-packages", dir.path()}, "--make-demo-packages"},
        {{}, "--config"},
        {{"--config", site, "--quiet=maybe"}, "--quiet"},
    };
    for (const auto& b : bad) {
        std::vector<std::string> arguments = b.arguments;
        arguments.insert(arguments.end(), {"--record", record});
        ProgramRun run = runSim(arguments);
        EXPECT_EQ(run.status, 2) << b.named << "\n" << run.output;
        EXPECT_NE(run.output.find(b.named), std::string::npos) << run.output;
        EXPECT_EQ(run.output.rfind("quenta-sim: ", 0), 0u) << run.output;
    }
    EXPECT_TRUE(quenta_test::readWholeFile(record).empty());  // no run started, no record written

    // A configuration that does not parse is not a usage error: 1, with the file and the place.
    ASSERT_TRUE(quenta_test::writeWholeFile(site, "{\"devices\": [}"));
    ProgramRun broken = runSim({"--config", site, "--record", record});
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.output.find(site + ": line 1"), std::string::npos) << broken.output;
}
