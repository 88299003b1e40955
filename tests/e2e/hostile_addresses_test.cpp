// test-labels: threads
// A hostile site in the private namespace: an address box listing names, old numeric forms, special
// and local addresses, and devices reporting such texts as their "IP". None of them becomes a
// record, a row or a destination: the simulated peers at the addresses the loose forms would reach
// receive nothing, and a raw socket sees no datagram from the tool to any address but the site's.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "sim/sim_config.h"
#include "tests/support/cli_runner.h"
#include "tests/support/engine_site.h"
#include "tests/support/netns.h"
#include "tests/support/temp_dir.h"

QUENTA_TEST_IN_PRIVATE_NAMESPACE(40);

using namespace engine_test;

namespace {

std::string dotted(uint32_t hostOrder) {
    return std::to_string(hostOrder >> 24) + "." + std::to_string(hostOrder >> 16 & 255) + "." +
           std::to_string(hostOrder >> 8 & 255) + "." + std::to_string(hostOrder & 255);
}

// Every UDP datagram delivered in the namespace, seen through a raw socket (a copy: the socket it is
// for still receives it).
class UdpSniffer {
  public:
    struct Seen {
        std::string from, to;
        int port = 0;
    };
    UdpSniffer() : fd_(::socket(AF_INET, SOCK_RAW, IPPROTO_UDP)) {
        if (fd_ >= 0) thread_ = std::thread([this] { run(); });
    }
    ~UdpSniffer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    std::vector<Seen> seen() {
        std::lock_guard<std::mutex> guard(lock_);
        return seen_;
    }

  private:
    void run() {
        unsigned char buffer[70000];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n < 20) continue;
            const size_t header = static_cast<size_t>(buffer[0] & 15) * 4;
            if (static_cast<size_t>(n) < header + 4) continue;
            auto address = [&](size_t at) {
                return dotted(uint32_t{buffer[at]} << 24 | uint32_t{buffer[at + 1]} << 16 |
                              uint32_t{buffer[at + 2]} << 8 | buffer[at + 3]);
            };
            std::lock_guard<std::mutex> guard(lock_);
            seen_.push_back({address(12), address(16), buffer[header + 2] << 8 | buffer[header + 3]});
        }
    }
    int fd_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<Seen> seen_;
    std::thread thread_;
};

// The box at 192.0.2.2 lists 192.0.2.11 (honest), 192.0.2.20..26 (answering with odd "IP" values)
// and odd texts. 192.0.2.8 and 192.0.2.12 are never listed: only the loose forms reach them.
const char kSite[] = R"({
  "defaults": {"model": "QN-H200", "platform": "hi3516a", "hardVersion": "HW-1.0",
               "kernelVersion": "3.10.108", "softVersion": "2.3.9", "master": 1, "slave": 0},
  "addressBox": {"ip": "192.0.2.2", "model": "QN-AB100", "serialNum": "QNT0AB10001",
                 "phantoms": ["localhost", "lobby-panel", "192.0.2.010", "3221225996", "192.0.524",
                              "192.0.2.267", "224.0.0.1", "239.255.255.250", "255.255.255.255",
                              "192.0.2.255", "192.0.2.0", "192.0.2.1", "127.0.0.1", "0.0.0.1",
                              " 192.0.2.11", "192.0.2.11\u001b[2J"]},
  "devices": [
    {"ip": "192.0.2.8", "serialNum": "QNT2H200008", "listed": false},
    {"ip": "192.0.2.11", "serialNum": "QNT2H200011"},
    {"ip": "192.0.2.12", "serialNum": "QNT2H200012", "listed": false},
    {"ip": "192.0.2.20", "serialNum": "QNT2H200020", "reportedIp": "192.0.2.267"},
    {"ip": "192.0.2.21", "serialNum": "QNT2H200021", "reportedIp": "localhost"},
    {"ip": "192.0.2.22", "serialNum": "QNT2H200022", "reportedIp": "127.0.0.1"},
    {"ip": "192.0.2.23", "serialNum": "QNT2H200023", "reportedIp": "192.0.2.010"},
    {"ip": "192.0.2.24", "serialNum": "QNT2H200024", "reportedIp": "224.0.0.1"},
    {"ip": "192.0.2.25", "serialNum": "QNT2H200025", "reportedIp": "192.0.2.1"},
    {"ip": "192.0.2.26", "serialNum": "QNT2H200026", "reportedIp": "3221225996"}
  ]
})";

const std::set<std::string> kSiteAddresses = {"192.0.2.2",  "192.0.2.11", "192.0.2.20",
                                              "192.0.2.21", "192.0.2.22", "192.0.2.23",
                                              "192.0.2.24", "192.0.2.25", "192.0.2.26"};

class HostileSiteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_EQ(0, simConfigFromJson(kSite, config, error)) << error;
    }
    // Datagrams the tool sent (from its own address or loopback) to anything but a listed peer.
    static std::vector<std::string> strayDatagrams(UdpSniffer& sniffer) {
        std::vector<std::string> stray;
        for (const auto& s : sniffer.seen()) {
            const bool fromTool = s.from == quenta_test::toolAddress() || s.from.rfind("127.", 0) == 0;
            if (fromTool && kSiteAddresses.count(s.to) == 0)
                stray.push_back(s.from + " -> " + s.to + ":" + std::to_string(s.port));
        }
        return stray;
    }
    static int sentTo(UdpSniffer& sniffer, const std::string& to) {
        int n = 0;
        for (const auto& s : sniffer.seen()) n += s.to == to && s.from == quenta_test::toolAddress();
        return n;
    }

    quenta_test::ScopedDriveRoot drive;
    quenta_test::TempDir folder{"hostile-"};
    SimConfig config;
    std::string package = writePackage(folder.path(), "QN通用升级包-2.4.1.quenta", "QN-H200", "2.4.1");
};

TEST_F(HostileSiteTest, OddListedAndReportedAddressesNeverBecomeRecordsRowsOrDestinations) {
    UdpSniffer sniffer;
    ASSERT_TRUE(sniffer.ok()) << "no raw socket in the namespace";
    FlowRig rig(config);
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_TRUE(rig.query(package, "192.0.2.2", {"QN-H200"}));

    // One row: the honest device, with its own columns (192.0.2.20's "192.0.2.267" would have taken
    // its record by value).
    DeviceList& list = rig.flow->list();
    ASSERT_EQ(1, list.RowCount());
    EXPECT_EQ("192.0.2.11", list.GetItemText(0, DEVICE_COLUMN_IP));
    EXPECT_EQ("QNT2H200011", list.GetItemText(0, DEVICE_COLUMN_SERIAL));
    EXPECT_EQ(-1, rig.rowOf("192.0.2.267"));

    const SimRecord record = rig.site->record();
    EXPECT_EQ(0, record.countReceived("192.0.2.8")) << "192.0.2.010 was read as octal";
    EXPECT_EQ(0, record.countReceived("192.0.2.12")) << "3221225996 or 192.0.524 was read";
    // The devices with odd "IP" values were asked at their listed address and nothing came of it.
    EXPECT_GE(record.countReceived("192.0.2.20", "GetSystemInfo"), 1);
    EXPECT_EQ(0, record.countReceived("192.0.2.20", "StartUploadService"));

    EXPECT_GE(sentTo(sniffer, "192.0.2.11"), 1) << "the raw socket saw nothing";
    EXPECT_EQ(std::vector<std::string>{}, strayDatagrams(sniffer));
}

TEST_F(HostileSiteTest, TheFailedDeviceStepListsOddAnswerersUnderTheirListedAddressOnly) {
    UdpSniffer sniffer;
    ASSERT_TRUE(sniffer.ok());
    FlowRig rig(config);
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_TRUE(rig.query(package, "192.0.2.2", {"QN-H200"}, true));
    DeviceList& list = rig.flow->list();
    std::set<std::string> rows;
    for (int row = 0; row < list.RowCount(); ++row) rows.insert(list.GetItemText(row, DEVICE_COLUMN_IP));
    const std::set<std::string> expected = {"192.0.2.11", "192.0.2.20", "192.0.2.21", "192.0.2.22",
                                            "192.0.2.23", "192.0.2.24", "192.0.2.25", "192.0.2.26"};
    EXPECT_EQ(expected, rows);
    EXPECT_EQ("已连接", rig.status("192.0.2.11"));
    EXPECT_EQ("连接失败", rig.status("192.0.2.20"));
    EXPECT_EQ(std::vector<std::string>{}, strayDatagrams(sniffer));
}

TEST_F(HostileSiteTest, TypedAddressesPassTheSameCheckAndAnOddAnswerAddsNoRow) {
    UdpSniffer sniffer;
    ASSERT_TRUE(sniffer.ok());
    FlowRig rig(config);
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_EQ(0, rig.flow->loadPackageFile(package));
    for (const char* typed : {"localhost", "192.0.2.010", "3221225996", "192.0.524", "127.0.0.1", "224.0.0.1",
                              "192.0.2.255", "192.0.2.0", "192.0.2.1"}) {
        rig.flow->setAddressBoxIp(typed);
        size_t mark = rig.ui.boxes.size();
        rig.flow->OnBnClickedButtonQuery();
        ASSERT_TRUE(rig.ui.errorSince(mark)) << typed;
        EXPECT_EQ("非法地址盒IP", rig.ui.errorSince(mark)->text) << typed;

        rig.flow->setSingleIp(typed);
        mark = rig.ui.boxes.size();
        rig.flow->OnBnClickedButtonAdd();
        ASSERT_TRUE(rig.ui.errorSince(mark)) << typed;
        EXPECT_EQ("非法IP地址", rig.ui.errorSince(mark)->text) << typed;
    }
    // A device whose answer names "192.0.2.267": no row, and the message of a silent device.
    rig.flow->setSingleIp("192.0.2.20");
    size_t mark = rig.ui.boxes.size();
    rig.flow->OnBnClickedButtonAdd();
    ASSERT_TRUE(rig.ui.errorSince(mark));
    EXPECT_EQ(0, rig.flow->list().RowCount());
    rig.flow->setSingleIp("192.0.2.11");
    rig.flow->OnBnClickedButtonAdd();
    EXPECT_EQ(1, rig.flow->list().RowCount());

    const SimRecord record = rig.site->record();
    EXPECT_EQ(0, record.countReceived("192.0.2.8"));
    EXPECT_EQ(0, record.countReceived("192.0.2.12"));
    EXPECT_EQ(0, record.countReceived("192.0.2.2")) << "a refused address box was asked";
    EXPECT_EQ(std::vector<std::string>{}, strayDatagrams(sniffer));
}

TEST_F(HostileSiteTest, CommandLineRefusesOddAddressesWithTheWindowsMessages) {
    if (!quenta_test::cliBuilt()) GTEST_SKIP() << "quenta-upgrade-cli not built";
    quenta_test::TempDir cliFolder{"hostile-cli-"};
    struct Case {
        std::vector<std::string> arguments;
        const char* message;
    } cases[] = {
        {{"query", "--package", package, "--address-box", "localhost"}, "非法地址盒IP"},
        {{"query", "--package", package, "--address-box", "192.0.2.010"}, "非法地址盒IP"},
        {{"upgrade", "--package", package, "--address-box", "192.0.2.2", "--ip", "224.0.0.1"}, "非法IP地址"},
    };
    for (const Case& c : cases) {
        quenta_test::CliRun run = quenta_test::runCli(c.arguments, cliFolder);
        EXPECT_EQ(1, run.exitCode) << c.arguments[4] << "\n" << run.err;
        EXPECT_NE(std::string::npos, run.err.find(c.message)) << run.err;
    }
}

TEST(HostileSiteConfig, ReportedIpIsATextOrNull) {
    SimConfig config;
    std::string error;
    EXPECT_EQ(0, simConfigFromJson(R"({"devices": [{"reportedIp": "fw-sink"}, {"reportedIp": null}]})",
                                   config, error))
        << error;
    ASSERT_EQ(2u, config.devices.size());
    EXPECT_EQ("fw-sink", config.devices[0].reportedIp.value_or(""));
    EXPECT_FALSE(config.devices[1].reportedIp);
    EXPECT_NE(0, simConfigFromJson(R"({"devices": [{"reportedIp": 5}]})", config, error));
    EXPECT_NE(std::string::npos, error.find("reportedIp")) << error;
}

}  // namespace
