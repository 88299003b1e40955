// Address texts from the network and from the operator: only canonical dotted text of a unicast
// address of another host passes; names, old numeric forms, special classes, the edges of this PC's
// subnets and its own addresses do not.
#include <gtest/gtest.h>

#include "ss/ss_ip.h"
#include "ss/ss_socket.h"

namespace {

const std::vector<SS_PlatformIpv4Network> kLocal = {
    {0x7F000001u, 0xFF000000u},  // 127.0.0.1/8
    {0xC0000201u, 0xFFFFFF00u},  // 192.0.2.1/24
    {0x0A010203u, 0xFFFFFFFFu},  // 10.1.2.3/32: no network or broadcast address
};

TEST(IpJudge, VerdictsOfTextsSeenFromHostileSites) {
    struct Case {
        const char* text;
        SS_IpVerdict verdict;
    } cases[] = {
        {"192.0.2.2", SS_IpVerdict::usable},
        {"192.0.2.254", SS_IpVerdict::usable},
        {"198.51.100.0", SS_IpVerdict::usable},  // an edge of a subnet this PC is not on
        {"223.255.255.254", SS_IpVerdict::usable},
        {"10.1.2.4", SS_IpVerdict::usable},
        {"1.0.0.0", SS_IpVerdict::usable},
        {"lobby-panel", SS_IpVerdict::notCanonical},
        {"localhost", SS_IpVerdict::notCanonical},
        {"192.0.2.010", SS_IpVerdict::notCanonical},  // octal 8 for a loose parser
        {"3221225996", SS_IpVerdict::notCanonical},   // 192.0.2.12 as one number
        {"192.0.524", SS_IpVerdict::notCanonical},    // 192.0.2.12 in three parts
        {"192.0.2.267", SS_IpVerdict::notCanonical},  // spills into 192.0.2.11
        {"0x7f.0.0.1", SS_IpVerdict::notCanonical},
        {"192.0.2.2 ", SS_IpVerdict::notCanonical},
        {" 192.0.2.2", SS_IpVerdict::notCanonical},
        {"+192.0.2.2", SS_IpVerdict::notCanonical},
        {"192.0.2.2.", SS_IpVerdict::notCanonical},
        {"192..2.2", SS_IpVerdict::notCanonical},
        {"192.0.2.0002", SS_IpVerdict::notCanonical},
        {"1.2.3.4.5", SS_IpVerdict::notCanonical},
        {"", SS_IpVerdict::notCanonical},
        {nullptr, SS_IpVerdict::notCanonical},
        {"0.0.0.0", SS_IpVerdict::notUnicast},
        {"0.0.0.1", SS_IpVerdict::notUnicast},
        {"127.0.0.1", SS_IpVerdict::notUnicast},
        {"127.1.2.3", SS_IpVerdict::notUnicast},
        {"224.0.0.1", SS_IpVerdict::notUnicast},
        {"239.255.255.250", SS_IpVerdict::notUnicast},
        {"240.0.0.1", SS_IpVerdict::notUnicast},
        {"255.255.255.255", SS_IpVerdict::notUnicast},
        {"192.0.2.0", SS_IpVerdict::subnetEdge},
        {"192.0.2.255", SS_IpVerdict::subnetEdge},
        {"192.0.2.1", SS_IpVerdict::ownAddress},
        {"10.1.2.3", SS_IpVerdict::ownAddress},
    };
    for (const Case& c : cases) {
        const char* shown = c.text ? c.text : "(null)";
        EXPECT_EQ(static_cast<int>(c.verdict), static_cast<int>(ss_ip_judge(c.text, kLocal))) << shown;
        // The same through the PC's snapshot, fixed for the test.
        ss_ip_setLocalNetworksForTests(&kLocal);
        EXPECT_EQ(static_cast<int>(c.verdict), static_cast<int>(ss_ip_judge(c.text))) << shown;
        ss_ip_setLocalNetworksForTests(nullptr);
    }
}

TEST(IpJudge, ParseCanonicalGivesHostOrderAndLeavesTheValueOnRefusal) {
    uint32_t value = 7;
    ASSERT_TRUE(ss_ip_parseCanonical("192.0.2.12", value));
    EXPECT_EQ(0xC000020Cu, value);
    ASSERT_TRUE(ss_ip_parseCanonical("0.0.0.0", value));
    EXPECT_EQ(0u, value);
    value = 7;
    EXPECT_FALSE(ss_ip_parseCanonical("192.0.2.1234", value));
    EXPECT_FALSE(ss_ip_parseCanonical("99999999999999999999.0.0.1", value));
    EXPECT_EQ(7u, value);
}

TEST(IpJudge, ThisPcsAdaptersIncludeLoopbackAndEveryAddressOfThemIsRefused) {
    std::vector<SS_PlatformIpv4Network> local;
    ASSERT_EQ(0, ss_platform_localIpv4Networks(local));
    bool loopback = false;
    for (const SS_PlatformIpv4Network& n : local) {
        if (n.address == 0x7F000001u) loopback = true;
        const std::string text = std::to_string(n.address >> 24) + "." +
                                 std::to_string(n.address >> 16 & 255) + "." +
                                 std::to_string(n.address >> 8 & 255) + "." + std::to_string(n.address & 255);
        EXPECT_NE(static_cast<int>(SS_IpVerdict::usable), static_cast<int>(ss_ip_judge(text.c_str())))
            << text;
    }
    EXPECT_TRUE(loopback);
}

// Destinations are read the same way: a name or an old numeric form is never looked up or guessed.
TEST(IpJudge, SocketAddressesAreCanonicalTextOnly) {
    for (const char* text :
         {"localhost", "lobby-panel", "127.0.0.010", "2130706433", "127.1", "255.255.255.255"}) {
        sockaddr_in address{};
        address.sin_addr.s_addr = htonl(0x01020304u);
        EXPECT_EQ(0, _SS_Socket_initAddress(&address, text)) << text;
        EXPECT_EQ(0u, address.sin_addr.s_addr) << text;
    }
    sockaddr_in address{};
    ASSERT_EQ(1, _SS_Socket_initAddress(&address, "127.0.0.9"));
    EXPECT_EQ(htonl(0x7F000009u), address.sin_addr.s_addr);
    EXPECT_EQ(AF_INET, address.sin_family);
    EXPECT_EQ(-1, SS_Socket_sendTo("localhost", 5360, "GetSystemInfo", nullptr));
}

}  // namespace
