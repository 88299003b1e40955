// sim/netns-run's links (--link-rate): one htb class and one u32 destination filter on lo per site
// address asked for, at the rate given, and nothing else shaped; a rate tc would not take is refused
// before any namespace is made. (How fast the links are is link_bench's business.)
#include <cstdlib>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/netns.h"

namespace {

using quenta_test::ProgramRun;

// Runs sim/netns-run with `arguments`; a namespace that cannot be made gives 77.
ProgramRun netnsRun(std::vector<std::string> arguments) {
    const char* source = std::getenv("QUENTA_SOURCE_DIR");
    arguments.insert(arguments.begin(),
                     {std::string(source ? source : ".") + "/sim/netns-run", "--skip-status", "77"});
    return quenta_test::runProgram(arguments);
}

int count(const std::string& text, const std::regex& pattern) {
    return static_cast<int>(
        std::distance(std::sregex_iterator(text.begin(), text.end(), pattern), std::sregex_iterator()));
}

}  // namespace

TEST(NetnsRunTest, EverySiteAddressGetsItsOwnLinkAndNothingElse) {
    // 260 addresses: the whole first prefix and the start of the second.
    ProgramRun run = netnsRun({"--addresses", "260", "--link-rate", "20mbit", "--", "sh", "-c",
                               "tc qdisc show dev lo; tc class show dev lo; tc filter show dev lo"});
    if (run.status == 77 && std::getenv("CI") == nullptr)
        GTEST_SKIP() << "no private namespace: " << run.output;
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(count(run.output, std::regex("qdisc htb 1: root")), 1) << run.output.substr(0, 400);
    EXPECT_EQ(count(run.output, std::regex("class htb 1:[0-9a-f]+ root .*rate 20Mbit ceil 20Mbit")), 260);
    EXPECT_EQ(count(run.output, std::regex("flowid 1:[0-9a-f]+")), 260);
    // Filters match destinations only (offset 16 of the IP header), each site address exactly once:
    // 192.0.2.2 is c0000202, 198.51.100.8 is c6336408; the tool's x.x.x.1 never.
    std::set<std::string> destinations;
    const std::regex match("match ([0-9a-f]{8})/ffffffff at 16");
    for (auto it = std::sregex_iterator(run.output.begin(), run.output.end(), match);
         it != std::sregex_iterator(); ++it)
        destinations.insert((*it)[1]);
    EXPECT_EQ(destinations.size(), 260u);
    EXPECT_EQ(destinations.count("c0000202"), 1u);
    EXPECT_EQ(destinations.count("c00002fe"), 1u);
    EXPECT_EQ(destinations.count("c6336408"), 1u);
    EXPECT_EQ(destinations.count("c6336409"), 0u);
    EXPECT_EQ(destinations.count("c0000201"), 0u);
}

TEST(NetnsRunTest, WithoutALinkRateNothingIsShaped) {
    ProgramRun run = netnsRun({"--addresses", "3", "--", "tc", "qdisc", "show", "dev", "lo"});
    if (run.status == 77 && std::getenv("CI") == nullptr)
        GTEST_SKIP() << "no private namespace: " << run.output;
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.find("htb"), std::string::npos) << run.output;
}

TEST(NetnsRunTest, RefusesARateTcWouldNotTake) {
    for (const char* rate : {"fast", "100", "-5mbit", "1e3mbit", "100mbit; echo injected", ""}) {
        ProgramRun run = netnsRun({"--link-rate", rate, "--", "true"});
        EXPECT_EQ(run.status, 2) << rate << ": " << run.output;
        EXPECT_NE(run.output.find("--link-rate"), std::string::npos) << run.output;
    }
}
