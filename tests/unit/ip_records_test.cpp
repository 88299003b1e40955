// test-labels: threads
// IP records of the upgrade server: identity by IPv4 value, "0.0.0.0" and over-long texts refused,
// a second answer from one address refused; concurrent appends and answers stay consistent.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "engine/quenta_upgrade_server.h"
#include "ss/ss_dir.h"
#include "ss/ss_ip.h"
#include "tests/support/temp_dir.h"

namespace {

struct ServerFixture : ::testing::Test {
    quenta_test::ScopedDriveRoot drive;
    QuentaUpgradeServerPtr server{QuentaUpgradeServer_new()};
    // This PC as the tool inside the test namespace, whatever the machine's own adapters are.
    const std::vector<SS_PlatformIpv4Network> local{{0x7F000001u, 0xFF000000u}, {0xC0000201u, 0xFFFFFF00u}};
    void SetUp() override {
        ASSERT_NE(nullptr, server);
        ss_ip_setLocalNetworksForTests(&local);
    }
    void TearDown() override { ss_ip_setLocalNetworksForTests(nullptr); }
    int stateOf(const char* ip) {
        ss_mutex_guard guard(server->lock.get());
        for (const auto& r : server->ipList)
            if (r.value == ss_ip_toInteger(ip)) return r.state;
        return -1;
    }
};

TEST_F(ServerFixture, AddIpRecordKeepsArrivalOrderAndIdentityByValue) {
    const char* const texts[] = {"192.0.2.10", "192.0.2.11",        "192.0.2.10",
                                 "0.0.0.0",    "192.0.2.123456789", nullptr};
    for (const char* ip : texts) addIpRecord(server.get(), ip);
    ASSERT_EQ(2, ipRecordCount(server.get()));
    EXPECT_STREQ("192.0.2.10", server->ipList[0].text);
    EXPECT_STREQ("192.0.2.11", server->ipList[1].text);
    EXPECT_EQ(0, server->ipList[0].state);
}

TEST_F(ServerFixture, MarkIpAnsweredTable) {
    addIpRecord(server.get(), "192.0.2.10");
    struct Case {
        const char* ip;
        int result;
        int stateAfter;
    } cases[] = {
        {"192.0.2.10", 0, 3},                                 // known, not yet answered
        {"192.0.2.10", -1, 3},                                // second answer: dropped
        {"192.0.2.20", 0, 3},                                 // unknown: appended already answered
        {"0.0.0.0", -1, -1},   {"1234567890.0.2.2", -1, -1},  // 16 characters: refused, never cut
        {nullptr, -1, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.result, markIpAnswered(server.get(), c.ip)) << (c.ip ? c.ip : "null");
        if (c.ip != nullptr) {
            EXPECT_EQ(c.stateAfter, stateOf(c.ip)) << c.ip;
        }
    }
    EXPECT_EQ(2, ipRecordCount(server.get()));
    clearIpRecords(server.get());
    EXPECT_EQ(0, ipRecordCount(server.get()));
}

TEST_F(ServerFixture, OnlyUsableAddressesBecomeRecordsAndNoTextTakesAnotherAddresssRecord) {
    addIpRecord(server.get(), "192.0.2.11");
    addIpRecord(server.get(), "192.0.2.12");
    const char* const odd[] = {"192.0.2.267",  // its value would be 192.0.2.11's
                               "3221225996",  "192.0.524", "192.0.2.012",     "lobby-panel",
                               "127.0.0.1",   "224.0.0.1", "255.255.255.255", "192.0.2.255",
                               "192.0.2.0",   "192.0.2.1", "0.0.0.1"};
    for (const char* ip : odd) {
        addIpRecord(server.get(), ip);
        EXPECT_EQ(-1, markIpAnswered(server.get(), ip)) << ip;
    }
    ASSERT_EQ(2, ipRecordCount(server.get()));
    EXPECT_EQ(0, stateOf("192.0.2.11")) << "a spilled text answered for another address";
    EXPECT_EQ(0, stateOf("192.0.2.12"));
}

TEST_F(ServerFixture, ConcurrentAppendsAndAnswersGiveOneRecordPerAddress) {
    std::thread adder([&] {
        for (int i = 0; i < 500; ++i)
            addIpRecord(server.get(), ("198.51.100." + std::to_string(i % 250)).c_str());
    });
    int accepted = 0;
    for (int i = 0; i < 250; ++i)
        if (markIpAnswered(server.get(), ("198.51.100." + std::to_string(i)).c_str()) == 0) ++accepted;
    adder.join();
    EXPECT_EQ(250, accepted);
    EXPECT_EQ(250, ipRecordCount(server.get()));
    for (const auto& r : server->ipList) EXPECT_EQ(3, r.state) << r.text;
}

TEST_F(ServerFixture, SlotsStartEmptyAndJobPortsNeverRepeat) {
    EXPECT_FALSE(anyUploadSlotBusy(server.get()));
    EXPECT_EQ(-1, uploadSlotProgress(server.get(), 1));
    std::vector<int> ports(2000);
    std::thread other([&] {
        for (int i = 0; i < 1000; ++i) ports[i] = nextJobPort();
    });
    for (int i = 1000; i < 2000; ++i) ports[i] = nextJobPort();
    other.join();
    std::sort(ports.begin(), ports.end());
    EXPECT_EQ(ports.end(), std::adjacent_find(ports.begin(), ports.end()));
    EXPECT_GT(ports.front(), 50000);
}

TEST_F(ServerFixture, JobPortsStayInThePrivateRangeAfterTheCounterPassesTheLastPort) {
    // More ports than the range holds: the counter starts again at 50001 instead of running into
    // 65536+ (which a 16-bit port would cut to a well-known port, even the listener's).
    std::vector<int> ports(20000);
    for (int& port : ports) port = nextJobPort();
    EXPECT_GE(*std::min_element(ports.begin(), ports.end()), 50001);
    EXPECT_EQ(65535, *std::max_element(ports.begin(), ports.end()));
    SS_SocketPtr socket = openJobSocket(server.get());
    ASSERT_NE(nullptr, socket);
    EXPECT_GT(socket->port, 50000);
}

}  // namespace
