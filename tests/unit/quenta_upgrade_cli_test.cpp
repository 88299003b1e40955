// quenta-upgrade-cli's command line: --version, --help per verb, and usage errors that name the
// option at fault and exit as documented (2 before a verb and for inspect, 1 for query and upgrade).
// Runs the built program (found through QUENTA_BINARY_DIR, which CTest sets); no verb here reaches
// the network.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "quenta_version.h"
#include "tests/support/cli_runner.h"
#include "tests/support/temp_dir.h"

namespace {

using quenta_test::cliBuilt;
using quenta_test::cliPath;
using quenta_test::CliRun;
using quenta_test::readWholeFile;
using quenta_test::runCli;
using quenta_test::TempDir;

class CliCommandLineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!cliBuilt()) GTEST_SKIP() << "quenta-upgrade-cli not built: " << cliPath();
    }

    CliRun run(const std::vector<std::string>& args) { return runCli(args, dir_); }

    TempDir dir_;
};

TEST_F(CliCommandLineTest, VersionIsTheProjectsVersion) {
    const CliRun r = run({"--version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, std::string("quenta-upgrade-cli ") + kQuentaVersion + "\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(CliCommandLineTest, HelpPerVerbListsItsOwnOptions) {
    const CliRun overview = run({"--help"});
    EXPECT_EQ(overview.exitCode, 0);
    for (const char* verb : {"inspect", "query", "upgrade"})
        EXPECT_NE(overview.out.find(verb), std::string::npos) << overview.out;
    EXPECT_EQ(run({"help"}).out, overview.out);
    // --help-all (the man page's source) has every verb's options.
    const CliRun all = run({"--help-all"});
    EXPECT_EQ(all.exitCode, 0);
    for (const char* option :
         {"PACKAGE", "--show-failed", "--verify-timeout", "--no-verify", "table|csv|json"})
        EXPECT_NE(all.out.find(option), std::string::npos) << option;

    struct Case {
        const char* verb;
        std::vector<std::string> has, hasNot;
    } cases[] = {
        {"inspect", {"PACKAGE", "digest"}, {"--package", "--format"}},
        {"query",
         {"--package", "--address-box", "--models", "--show-failed", "--recover", "--report", "--format",
          "table|csv|json", "--quiet"},
         {"--all", "--ip", "--retry", "--no-verify", "--verify-timeout"}},
        {"upgrade",
         {"--package", "--address-box", "--models", "--all", "--ip", "--no-verify", "--verify-timeout",
          "--retry", "--recover", "--report", "--format", "--quiet"},
         {"--show-failed"}},
    };
    for (const Case& c : cases) {
        const CliRun r = run({c.verb, "--help"});
        EXPECT_EQ(r.exitCode, 0) << c.verb;
        EXPECT_NE(r.out.find(std::string("quenta-upgrade-cli ") + c.verb), std::string::npos) << r.out;
        for (const std::string& option : c.has)
            EXPECT_NE(r.out.find(option), std::string::npos) << c.verb << option;
        for (const std::string& option : c.hasNot)
            EXPECT_EQ(r.out.find(option), std::string::npos) << c.verb << option;
    }
}

// Every usage error names what is wrong on stderr, prints nothing on stdout and runs nothing.
TEST_F(CliCommandLineTest, UsageErrorsNameTheOptionAndExitAsDocumented) {
    const std::vector<std::string> site{"--package", "p.quenta", "--address-box", "192.0.2.1"};
    auto with = [&](const char* verb, std::vector<std::string> extra) {
        std::vector<std::string> args{verb};
        args.insert(args.end(), site.begin(), site.end());
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    };
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::vector<std::string> named;  // pieces the message must contain
    } cases[] = {
        {{}, 2, {"inspect", "query", "upgrade"}},
        {{"install"}, 2, {"'install'", "inspect, query or upgrade"}},
        {{"--bogus"}, 2, {"--bogus"}},
        {{"inspect"}, 2, {"PACKAGE"}},
        {{"inspect", "a.quenta", "b.quenta"}, 2, {"b.quenta"}},
        {{"inspect", ""}, 2, {"PACKAGE"}},
        {{"query", "--address-box", "192.0.2.1"}, 1, {"--package"}},
        {{"upgrade", "--package", "p.quenta"}, 1, {"--address-box"}},
        {{"query", "--package", "", "--address-box", "192.0.2.1"}, 1, {"--package"}},
        {with("query", {"--format", "xml"}), 1, {"--format", "'xml'", "table|csv|json"}},
        {with("query", {"--bogus"}), 1, {"--bogus", "query --help"}},
        {with("query", {"--all"}), 1, {"--all"}},
        {with("query", {"--retry", "1"}), 1, {"--retry"}},
        {with("upgrade", {"--show-failed"}), 1, {"--show-failed", "upgrade --help"}},
        {with("upgrade", {"--retry", "x"}), 1, {"--retry", "'x'"}},
        {with("upgrade", {"--retry", "0x5"}), 1, {"--retry"}},
        {with("upgrade", {"--retry", "101"}), 1, {"--retry", "100"}},
        {with("upgrade", {"--retry", "-1"}), 1, {"--retry"}},
        {with("upgrade", {"--verify-timeout", "0"}), 1, {"--verify-timeout"}},
        {with("upgrade", {"--verify-timeout", "86401"}), 1, {"--verify-timeout"}},
        {with("upgrade", {"--report"}), 1, {"--report"}},
        {with("upgrade", {"--report", ""}), 1, {"--report"}},
        {with("upgrade", {"--ip"}), 1, {"--ip"}},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& arg : c.args) shown += " [" + arg + "]";
        const CliRun r = run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << shown << "\n" << r.err;
        EXPECT_EQ(r.out, "") << shown;
        for (const std::string& piece : c.named)
            EXPECT_NE(r.err.find(piece), std::string::npos) << shown << "\n" << r.err;
    }
}

}  // namespace
