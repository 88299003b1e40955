// test-labels: threads
// The simulated site, exercised with the tool's own protocol modules inside a private network
// namespace: address box (marked answers, auth, address lists), devices (system information, upload
// service, file transfer, reboot), every fault mode, 300 devices at once, and the record.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <set>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "devtypes/devtypes.h"
#include "protocol/device_actions.h"
#include "protocol/marked_text.h"
#include "protocol/ss_pair.h"
#include "sim/package_maker.h"
#include "sim/sha256.h"
#include "sim/sim_config.h"
#include "sim/sim_site.h"
#include "ss/ss_socket.h"
#include "ss/ss_tcpfile.h"
#include "tests/support/netns.h"
#include "tests/support/temp_dir.h"

QUENTA_TEST_IN_PRIVATE_NAMESPACE(310);

namespace {

using quenta_test::siteAddress;

SimDeviceConfig device(const std::string& ip, const std::string& model = "QN-H200") {
    SimDeviceConfig d;
    d.ip = ip;
    d.model = model;
    d.platform = "hi3516a";
    d.master = 1;
    d.slave = 2;
    d.hardVersion = "HW-1.0";
    d.kernelVersion = "3.10.108";
    d.softVersion = "2.3.9";
    d.serialNum = "QNT2H200001";
    return d;
}

SimAddressBoxConfig addressBox(const std::string& ip) {
    SimAddressBoxConfig box;
    box.device = device(ip, "QN-AB100");
    box.device.serialNum = "QNT0AB10001";  // fourth character '0': SS_SN_TYPE_SERVER
    return box;
}

std::unique_ptr<SimSite> startSite(const SimConfig& config) {
    auto site = std::make_unique<SimSite>(config);
    std::string error;
    EXPECT_EQ(site->open(error), 0) << error;
    EXPECT_EQ(site->start(), 0);
    return site;
}

// Waits (bounded) until the record satisfies `done`; returns the last record seen.
SimRecord waitRecord(const SimSite& site, const std::function<bool(const SimRecord&)>& done) {
    SimRecord record;
    for (int i = 0; i < 250; ++i) {
        record = site.record();
        if (done(record)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return record;
}

// The tool's side: a UDP socket on a port the system picks, asking one peer.
struct Tool {
    SS_SocketPtr socket = SS_Socket_newUdpServerSocket(0);

    int port() const {
        sockaddr_in bound{};
        socklen_t length = sizeof bound;
        getsockname(socket->descriptor, reinterpret_cast<sockaddr*>(&bound), &length);
        return ntohs(bound.sin_port);
    }
    int request(const std::string& ip, const char* action, const char* answer, std::string& text,
                int port = 5360) {
        SS_SocketPtr destination = _SS_Socket_newClientSocket(ip.c_str(), port, SS_SOCKET_UDP);
        return _requestAction(socket.get(), destination.get(), action, answer, text);
    }
    void send(const std::string& ip, int port, const std::string& text) {
        SS_SocketPtr destination = _SS_Socket_newClientSocket(ip.c_str(), port, SS_SOCKET_UDP);
        ASSERT_EQ(SS_Socket_send_plain(&destination->address, text.c_str(), socket.get()), 0);
    }
    // Every datagram text until the socket stays quiet for `quietRounds` waits of 200 ms.
    std::vector<std::string> receiveAll(int quietRounds = 3, size_t stopAt = SIZE_MAX) {
        std::vector<std::string> texts;
        for (int quiet = 0; quiet < quietRounds && texts.size() < stopAt;) {
            std::optional<std::string> text;
            SS_Socket_receive_plain(socket.get(), text);
            if (text && !text->empty()) {
                texts.push_back(*text);
                quiet = 0;
            } else {
                ++quiet;
            }
        }
        return texts;
    }
};

SS_PairList pairs(const std::string& text) {
    SS_PairList list;
    stringToPairList(text.c_str(), list);
    return list;
}

std::optional<std::string> value(const std::string& text, const char* key) {
    SS_PairList list = pairs(text);
    std::optional<std::string> out;
    pairListGetString(&list, key, out);
    return out;
}

std::string fromTool(int port) {
    return std::string(quenta_test::toolAddress()) + ":" + std::to_string(port);
}

// Writes a package carrying `version` and returns its local path.
std::string writePackage(const quenta_test::TempDir& dir, const std::string& version, int64_t size) {
    PackageSpec spec;
    spec.modelList = "QN-H200";
    spec.version = version;
    spec.payloadSize = size;
    const std::string path = dir.file("pkg-" + version + ".quenta");
    EXPECT_EQ(makePackageFile(path, spec), 0);
    return path;
}

// StartUploadService, the TCP put, the goodbye: the put's result (and the port in `port`).
int upload(Tool& tool, const std::string& ip, const std::string& localPath, int& port,
           const char* remoteName = "C:\\Work/quenta/upload/QN_UPGRADE/upgrade.bin") {
    std::string answer;
    port = -1;
    if (tool.request(ip, QNACTION_START_UPLOAD_SERVICE, QNACTION_START_UPLOAD_SERVICE_OK, answer) != 0)
        return -2;
    SS_PairList list = pairs(answer);
    pairListGetInt(QNKEY_PORT, port, &list);
    if (port <= 0) return -3;
    SS_TcpFileClientPtr client(SS_TcpFileClient_new(port, ip.c_str()));
    if (!client) return -4;
    return SS_TcpFileClient_putFile(remoteName, client.get(), localPath.c_str());
}

}  // namespace

TEST(SimSiteTest, RunsInPrivateNamespace) {
    EXPECT_TRUE(quenta_test::inPrivateNamespace());
}

TEST(SimSiteTest, DeviceAnswersSystemInfoToTheRequestersPort) {
    SimConfig config;
    config.devices.push_back(device(siteAddress(0)));
    config.devices[0].platform = "";  // no Platform key
    config.devices[0].slave.reset();  // no Slave key
    auto site = startSite(config);
    Tool tool;
    std::string answer;
    ASSERT_EQ(tool.request(siteAddress(0), QNACTION_GET_SYSTEM_INFO, QNACTION_GET_SYSTEM_INFO_OK, answer), 0);
    EXPECT_EQ(value(answer, QNKEY_IP), siteAddress(0));
    EXPECT_EQ(value(answer, QNKEY_MODEL), "QN-H200");
    EXPECT_EQ(value(answer, QNKEY_MASTER), "1");
    EXPECT_EQ(value(answer, QNKEY_SLAVE), std::nullopt);
    EXPECT_EQ(value(answer, QNKEY_PLATFORM), std::nullopt);
    EXPECT_EQ(value(answer, QNKEY_SOFT_VERSION), "2.3.9");
    EXPECT_EQ(value(answer, QNKEY_SERIAL_NUM), "QNT2H200001");
    EXPECT_EQ(value(answer, QNKEY_TCP_SUPPORT), "1");
    EXPECT_EQ(value(answer, QNKEY_UPLOAD_PATH), "C:\\Work/quenta/upload/QN_UPGRADE/upgrade.bin");
    EXPECT_TRUE(systemInfoHasRequiredKeys(pairs(answer)));
    EXPECT_EQ(answer.rfind("Action: GetSystemInfoOK\r\n", 0), 0u);

    SimRecord record = site->record();
    ASSERT_EQ(record.countReceived(siteAddress(0), QNACTION_GET_SYSTEM_INFO), 1);
    ASSERT_EQ(record.countSent(siteAddress(0), QNACTION_GET_SYSTEM_INFO_OK), 1);
    for (const auto& d : record.datagrams) {
        EXPECT_EQ(d.remote, fromTool(tool.port()));
        EXPECT_EQ(d.peerPort, 5360);
    }
    EXPECT_EQ(record.datagrams[0].size, 26);  // "Action: GetSystemInfo\r\n\r\n" and its zero byte
}

TEST(SimSiteTest, AddressBoxAnswersInEveryFormWithAServerSerialNumber) {
    for (SimAnswerForm form : {SimAnswerForm::Plain, SimAnswerForm::Xor, SimAnswerForm::Des}) {
        SimConfig config;
        config.addressBox = addressBox(siteAddress(0));
        config.addressBox->device.systemInfoForm = form;
        auto site = startSite(config);
        Tool tool;
        std::string answer;
        ASSERT_EQ(tool.request(siteAddress(0), QNACTION_GET_SYSTEM_INFO, QNACTION_GET_SYSTEM_INFO_OK, answer),
                  0);
        std::optional<std::string> serial = value(answer, QNKEY_SERIAL_NUM);
        ASSERT_TRUE(serial);
        EXPECT_EQ(classifySerialNumber(serial->c_str()), SS_SN_TYPE_SERVER);

        // The wire text is marked in the XOR and DES forms.
        SimRecord record = site->record();
        ASSERT_EQ(record.countSent(siteAddress(0), QNACTION_GET_SYSTEM_INFO_OK), 1);
        const std::string& wire = record.datagrams.back().text;
        const char* marker = form == SimAnswerForm::Xor   ? kXorMarker
                             : form == SimAnswerForm::Des ? kDesMarker
                                                          : "Action";
        EXPECT_EQ(wire.rfind(marker, 0), 0u) << wire;
    }
}

TEST(SimSiteTest, AddressBoxListsTheAskedModelsInDatagramsOfAtMostTheConfiguredCount) {
    SimConfig config;
    config.addressBox = addressBox(siteAddress(0));
    config.addressBox->maxAddressesPerDatagram = 3;
    config.addressBox->phantoms.push_back({"192.0.2.200", "QN-S210"});
    config.addressBox->phantoms.push_back({"192.0.2.201", "QN-OTHER"});
    std::set<std::string> expected;
    for (int i = 1; i <= 8; ++i) {
        SimDeviceConfig d = device(siteAddress(i), i % 2 == 0 ? "QN-H200" : "QN-S210");
        if (i == 8) d.listed = false;
        if (i != 8) expected.insert(d.ip);
        config.devices.push_back(d);
    }
    config.devices.push_back(device(siteAddress(9), "QN-H2000"));  // not asked: names compare whole
    expected.insert("192.0.2.200");
    auto site = startSite(config);

    Tool tool;
    const std::string account = "QN-H200,QN-S210";
    tool.send(siteAddress(0), 5160,
              buildGetModelIPList(makeAuthToken(account.c_str())->c_str(), account.c_str()));
    std::vector<std::string> texts = tool.receiveAll();
    std::set<std::string> listed;
    for (const auto& text : texts) {
        EXPECT_EQ(value(text, QNKEY_ACTION), QNACTION_UPDATE_IP_ADDRESS);
        std::vector<std::string> ips = splitString(value(text, QNKEY_IP).value_or("").c_str(), ",");
        EXPECT_LE(ips.size(), 3u);
        EXPECT_GE(ips.size(), 1u);
        listed.insert(ips.begin(), ips.end());
    }
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(texts.size(), 3u);  // 8 addresses, 3 per datagram
    SimRecord record = site->record();
    EXPECT_EQ(record.countReceived(siteAddress(0), QNACTION_GET_MODEL_IP_LIST), 1);
    EXPECT_EQ(record.countSent(siteAddress(0), QNACTION_UPDATE_IP_ADDRESS), 3);
}

TEST(SimSiteTest, AddressBoxReassemblesALongFragmentedRequest) {
    SimConfig config;
    config.addressBox = addressBox(siteAddress(0));
    config.devices.push_back(device(siteAddress(1), "QN-Z0699"));
    auto site = startSite(config);
    std::string account;
    for (int i = 0; i < 700; ++i) account += formatString("%sQN-Z%04d", i == 0 ? "" : ",", i);
    const std::string request = buildGetModelIPList(makeAuthToken(account.c_str())->c_str(), account.c_str());
    ASSERT_GT(request.size(), 6144u);  // goes as fragments
    Tool tool;
    tool.send(siteAddress(0), 5160, request);
    std::vector<std::string> texts = tool.receiveAll();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(value(texts[0], QNKEY_IP), siteAddress(1));
    SimRecord record = site->record();
    EXPECT_EQ(record.countReceived(siteAddress(0), QNACTION_GET_MODEL_IP_LIST), 1);
    EXPECT_EQ(record.countReceived(siteAddress(0), ""), static_cast<int>((request.size() + 1 + 1439) / 1440));
}

TEST(SimSiteTest, AddressBoxRefusesAWrongAuth) {
    SimConfig config;
    config.addressBox = addressBox(siteAddress(0));
    config.devices.push_back(device(siteAddress(1)));
    auto site = startSite(config);
    Tool tool;
    const std::string other = *makeAuthToken("QN-S210");
    for (const std::string& request :
         {buildGetModelIPList(other.c_str(), "QN-H200"),                          // token of another account
          std::string("Action: GetModelIPList\r\nAccount: QN-H200\r\n\r\n"),      // no Auth
          buildGetModelIPList(makeAuthToken("QN-H200")->c_str(), "QN-H200,")}) {  // account changed
        tool.send(siteAddress(0), 5160, request);
    }
    EXPECT_TRUE(tool.receiveAll(4).empty());
    SimRecord record = waitRecord(*site, [](const SimRecord& r) { return r.datagrams.size() >= 3; });
    EXPECT_EQ(record.countReceived(siteAddress(0), QNACTION_GET_MODEL_IP_LIST), 3);
    EXPECT_EQ(record.countSent(siteAddress(0)), 0);
}

TEST(SimSiteTest, UploadArrivesByteForByteAndRebootReportsThePayloadVersion) {
    quenta_test::TempDir dir;
    const std::string path = writePackage(dir, "9.8.7", 5000);
    const std::string content = quenta_test::readWholeFile(path);
    SimConfig config;
    config.devices.push_back(device(siteAddress(0)));
    config.devices[0].versionAfterReboot = "never-used";
    auto site = startSite(config);
    Tool tool;
    int port = 0;
    ASSERT_EQ(upload(tool, siteAddress(0), path, port), 0);
    std::string answer;
    ASSERT_EQ(tool.request(siteAddress(0), QNACTION_REBOOT, QNACTION_REBOOT_OK, answer), 0);
    EXPECT_EQ(site->softVersion(siteAddress(0)), "9.8.7");
    ASSERT_EQ(tool.request(siteAddress(0), QNACTION_GET_SYSTEM_INFO, QNACTION_GET_SYSTEM_INFO_OK, answer), 0);
    EXPECT_EQ(value(answer, QNKEY_SOFT_VERSION), "9.8.7");

    SimRecord record =
        waitRecord(*site, [](const SimRecord& r) { return !r.uploads.empty() && r.uploads[0].closeCommand; });
    ASSERT_EQ(record.uploads.size(), 1u);
    const SimUploadRecord& u = record.uploads[0];
    EXPECT_EQ(u.deviceIp, siteAddress(0));
    EXPECT_EQ(u.client.rfind(std::string(quenta_test::toolAddress()) + ":", 0), 0u);
    EXPECT_EQ(u.remoteName, "C:\\Work/quenta/upload/QN_UPGRADE/upgrade.bin");
    EXPECT_EQ(u.declaredSize, static_cast<int64_t>(content.size()));
    EXPECT_EQ(u.receivedSize, static_cast<int64_t>(content.size()));
    EXPECT_TRUE(u.complete);
    EXPECT_EQ(u.sha256, sha256Of(content));
    EXPECT_EQ(u.reply, 5);
    EXPECT_TRUE(u.closeCommand);
    EXPECT_EQ(u.payloadVersion, "9.8.7");
    ASSERT_EQ(record.reboots.size(), 1u);
    EXPECT_EQ(record.reboots[0].oldVersion, "2.3.9");
    EXPECT_EQ(record.reboots[0].newVersion, "9.8.7");
    EXPECT_EQ(record.maxConcurrentTransfers, 1);
}

TEST(SimSiteTest, RebootWithoutAVersionedPayloadUsesTheConfiguredVersion) {
    quenta_test::TempDir dir;
    PackageSpec spec;
    spec.payloadSize = 3000;  // no version text
    ASSERT_EQ(makePackageFile(dir.file("plain.quenta"), spec), 0);
    SimConfig config;
    config.devices.push_back(device(siteAddress(0)));
    config.devices.push_back(device(siteAddress(1)));
    config.devices[0].versionAfterReboot = "3.0.0";
    auto site = startSite(config);
    Tool tool;
    int port = 0;
    ASSERT_EQ(upload(tool, siteAddress(0), dir.file("plain.quenta"), port), 0);
    std::string answer;
    ASSERT_EQ(tool.request(siteAddress(0), QNACTION_REBOOT, QNACTION_REBOOT_OK, answer), 0);
    ASSERT_EQ(tool.request(siteAddress(1), QNACTION_REBOOT, QNACTION_REBOOT_OK, answer), 0);
    EXPECT_EQ(site->softVersion(siteAddress(0)), "3.0.0");
    EXPECT_EQ(site->softVersion(siteAddress(1)), "2.3.9");  // nothing configured, nothing received
}

TEST(SimSiteTest, MarkedUploadAnswersDecodeToThePort) {
    for (int variant = 0; variant < 4; ++variant) {
        const SimAnswerForm form = variant % 2 == 0 ? SimAnswerForm::Xor : SimAnswerForm::Des;
        const bool upper = variant >= 2;
        SCOPED_TRACE(upper ? "upper-case hex" : "lower-case hex");
        SimConfig config;
        config.devices.push_back(device(siteAddress(0)));
        config.devices[0].answerForm = form;
        config.devices[0].upperCaseHex = upper;
        auto site = startSite(config);
        Tool tool;
        std::string answer;
        ASSERT_EQ(tool.request(siteAddress(0), QNACTION_START_UPLOAD_SERVICE,
                               QNACTION_START_UPLOAD_SERVICE_OK, answer),
                  0);
        SS_PairList list = pairs(answer);
        int port = -1;
        pairListGetInt(QNKEY_PORT, port, &list);
        EXPECT_GT(port, 0);
        ASSERT_EQ(tool.request(siteAddress(0), QNACTION_REBOOT, QNACTION_REBOOT_OK, answer), 0);
        SimRecord record = site->record();
        for (const auto& d : record.datagrams) {
            if (d.received) continue;
            EXPECT_EQ(d.text.rfind(form == SimAnswerForm::Xor ? kXorMarker : kDesMarker, 0), 0u);
            const std::string payload = d.text.substr(kMarkerLength);
            const bool hasLower = payload.find_first_of("abcdef") != std::string::npos;
            const bool hasUpper = payload.find_first_of("ABCDEF") != std::string::npos;
            EXPECT_FALSE(upper ? hasLower : hasUpper) << d.text;
        }
    }
}

// Each UDP fault, checked on the record and on what the tool receives.
TEST(SimSiteTest, UdpFaultsDoWhatTheySay) {
    SimConfig config;
    auto add = [&](std::function<void(SimDeviceConfig&)> fault) {
        SimDeviceConfig d = device(siteAddress(static_cast<int>(config.devices.size())));
        fault(d);
        config.devices.push_back(d);
        return d.ip;
    };
    const std::string silent = add([](SimDeviceConfig& d) { d.faults.silent = true; });
    const std::string late = add([](SimDeviceConfig& d) { d.faults.delayMs = 600; });
    const std::string twice = add([](SimDeviceConfig& d) { d.faults.answerTwice = true; });
    const std::string noTcp = add([](SimDeviceConfig& d) { d.faults.noTcpSupport = true; });
    const std::string portZero = add([](SimDeviceConfig& d) { d.faults.portZero = true; });
    const std::string portBig = add([](SimDeviceConfig& d) { d.faults.uploadPort = 70000; });
    const std::string noSerial = add([](SimDeviceConfig& d) { d.faults.noSerialNum = true; });
    const std::string junkBefore = add([](SimDeviceConfig& d) { d.faults.garbage = SimGarbage::Before; });
    const std::string junkInstead = add([](SimDeviceConfig& d) { d.faults.garbage = SimGarbage::Instead; });
    auto site = startSite(config);
    Tool tool;
    std::string answer;

    EXPECT_EQ(tool.request(silent, QNACTION_GET_SYSTEM_INFO, QNACTION_GET_SYSTEM_INFO_OK, answer), -1);
    EXPECT_EQ(tool.request(silent, QNACTION_START_UPLOAD_SERVICE, QNACTION_START_UPLOAD_SERVICE_OK, answer),
              -1);

    // Late: the answer leaves at least the delay after the request (the site's own clock).
    tool.send(late, 5360, buildActionRequest(QNACTION_GET_SYSTEM_INFO));
    std::vector<std::string> lateTexts = tool.receiveAll(10, 1);
    ASSERT_EQ(lateTexts.size(), 1u);
    EXPECT_EQ(value(lateTexts[0], QNKEY_IP), late);

    tool.send(twice, 5360, buildActionRequest(QNACTION_GET_SYSTEM_INFO));
    std::vector<std::string> twiceTexts = tool.receiveAll();
    ASSERT_EQ(twiceTexts.size(), 2u);
    EXPECT_EQ(twiceTexts[0], twiceTexts[1]);

    ASSERT_EQ(tool.request(noTcp, QNACTION_GET_SYSTEM_INFO, QNACTION_GET_SYSTEM_INFO_OK, answer), 0);
    EXPECT_EQ(value(answer, QNKEY_TCP_SUPPORT), "0");
    ASSERT_EQ(tool.request(noTcp, QNACTION_START_UPLOAD_SERVICE, QNACTION_START_UPLOAD_SERVICE_OK, answer),
              0);
    EXPECT_EQ(value(answer, QNKEY_TCP_SUPPORT), "0");

    ASSERT_EQ(tool.request(portZero, QNACTION_START_UPLOAD_SERVICE, QNACTION_START_UPLOAD_SERVICE_OK, answer),
              0);
    EXPECT_EQ(value(answer, QNKEY_PORT), "0");
    ASSERT_EQ(tool.request(portBig, QNACTION_START_UPLOAD_SERVICE, QNACTION_START_UPLOAD_SERVICE_OK, answer),
              0);
    EXPECT_EQ(value(answer, QNKEY_PORT), "70000");  // the service listens on 4464, where it wraps to

    ASSERT_EQ(tool.request(noSerial, QNACTION_GET_SYSTEM_INFO, QNACTION_GET_SYSTEM_INFO_OK, answer), 0);
    EXPECT_EQ(value(answer, QNKEY_SERIAL_NUM), std::nullopt);
    EXPECT_FALSE(systemInfoHasRequiredKeys(pairs(answer)));

    tool.send(junkBefore, 5360, buildActionRequest(QNACTION_GET_SYSTEM_INFO));
    std::vector<std::string> junkTexts = tool.receiveAll();
    ASSERT_EQ(junkTexts.size(), 2u);
    EXPECT_NE(value(junkTexts[0], QNKEY_ACTION), std::optional<std::string>(QNACTION_GET_SYSTEM_INFO_OK));
    EXPECT_EQ(value(junkTexts[1], QNKEY_ACTION), QNACTION_GET_SYSTEM_INFO_OK);
    // _requestAction skips the junk and still finds the answer.
    EXPECT_EQ(
        tool.request(junkBefore, QNACTION_START_UPLOAD_SERVICE, QNACTION_START_UPLOAD_SERVICE_OK, answer), 0);
    EXPECT_EQ(tool.request(junkInstead, QNACTION_GET_SYSTEM_INFO, QNACTION_GET_SYSTEM_INFO_OK, answer), -1);

    SimRecord record = site->record();
    EXPECT_EQ(record.countReceived(silent), 4);  // two rounds per request
    EXPECT_EQ(record.countSent(silent), 0);
    int64_t requestMs = 0, answerMs = 0;
    for (const auto& d : record.datagrams) {
        if (d.peerIp != late) continue;
        (d.received ? requestMs : answerMs) = d.timeMs;
    }
    EXPECT_GE(answerMs - requestMs, 590);
    EXPECT_EQ(record.countSent(twice, QNACTION_GET_SYSTEM_INFO_OK), 2);
    int junkSent = 0;
    for (const auto& d : record.datagrams)
        if (!d.received && d.garbage && (d.peerIp == junkBefore || d.peerIp == junkInstead)) ++junkSent;
    EXPECT_EQ(junkSent, 2 + 2);  // one per answer of junkBefore (2), one per request round of junkInstead (2)
    EXPECT_EQ(record.countSent(junkInstead, QNACTION_GET_SYSTEM_INFO_OK), 0);
    EXPECT_EQ(record.countSent(junkBefore, QNACTION_GET_SYSTEM_INFO_OK), 1);
}

// Loss: the site's share, a device's own share overriding it, and a seed that decides which
// datagrams go (the same ones again with the same seed).
TEST(SimSiteTest, LossDropsASeededShareEachWay) {
    static constexpr int kRequests = 200;
    // Sends kRequests requests to a device losing 30 %; returns the lost flags of what it received,
    // then of what it sent, and checks the books balance.
    auto lossPattern = [](uint64_t seed) {
        SimConfig config;
        config.lossSeed = seed;
        config.devices.push_back(device(siteAddress(0)));
        config.devices.back().faults.loss = 0.3;
        auto site = startSite(config);
        Tool tool;
        for (int i = 0; i < kRequests; ++i) {
            tool.send(siteAddress(0), 5360, buildActionRequest(QNACTION_GET_SYSTEM_INFO));
            if (i % 20 == 19) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const size_t answers = tool.receiveAll().size();
        site->stop();
        const SimRecord record = site->record();
        std::vector<bool> pattern;
        int lostIn = 0, lostOut = 0;
        for (bool received : {true, false})
            for (const auto& d : record.datagrams)
                if (d.received == received) {
                    pattern.push_back(d.lost);
                    (received ? lostIn : lostOut) += d.lost ? 1 : 0;
                }
        EXPECT_EQ(record.countReceived(siteAddress(0)) + lostIn, kRequests);
        EXPECT_EQ(record.countSent(siteAddress(0)), record.countReceived(siteAddress(0)) - lostOut);
        EXPECT_EQ(answers, static_cast<size_t>(record.countSent(siteAddress(0))));
        EXPECT_GT(lostIn, kRequests * 2 / 10);
        EXPECT_LT(lostIn, kRequests * 4 / 10);
        EXPECT_GT(lostOut, 0);
        return pattern;
    };
    const std::vector<bool> first = lossPattern(7);
    EXPECT_EQ(lossPattern(7), first);
    EXPECT_NE(lossPattern(8), first);

    // The whole site loses everything, except where a device or the list service says otherwise.
    SimConfig config;
    config.loss = 1.0;
    config.addressBox = addressBox(siteAddress(0));
    config.addressBox->listFaults.loss = 0.0;
    config.devices.push_back(device(siteAddress(1)));
    config.devices.push_back(device(siteAddress(2)));
    config.devices.back().faults.loss = 0.0;
    auto site = startSite(config);
    Tool tool;
    std::string answer;
    EXPECT_EQ(tool.request(siteAddress(1), QNACTION_GET_SYSTEM_INFO, QNACTION_GET_SYSTEM_INFO_OK, answer),
              -1);
    EXPECT_EQ(tool.request(siteAddress(2), QNACTION_GET_SYSTEM_INFO, QNACTION_GET_SYSTEM_INFO_OK, answer), 0);
    EXPECT_EQ(tool.request(siteAddress(0), QNACTION_GET_SYSTEM_INFO, QNACTION_GET_SYSTEM_INFO_OK, answer),
              -1);
    tool.send(siteAddress(0), 5160, buildGetModelIPList(makeAuthToken("QN-H200")->c_str(), "QN-H200"));
    EXPECT_EQ(tool.receiveAll(2).size(), 1u);
    const SimRecord record = site->record();
    EXPECT_EQ(record.countReceived(siteAddress(1)), 0);
    int lost = 0;
    for (const auto& d : record.datagrams)
        if (d.peerIp == siteAddress(1)) lost += d.lost && d.received && d.action == QNACTION_GET_SYSTEM_INFO;
    EXPECT_EQ(lost, 2);  // two rounds, both recorded as lost
    EXPECT_NE(simRecordToJson(record).find("\"lost\": true"), std::string::npos);
}

// Each TCP fault: the put's result in the tool and what the device recorded.
TEST(SimSiteTest, TcpFaultsDoWhatTheySay) {
    quenta_test::TempDir dir;
    const std::string path = writePackage(dir, "1.2.3", 9000);
    struct Case {
        const char* name;
        std::function<void(SimFaults&)> fault;
        int reply;
        bool complete;
    };
    const Case cases[] = {
        {"error text", [](SimFaults& f) { f.tcpErrorText = "disk full"; }, 255, true},
        {"invalid reply", [](SimFaults& f) { f.tcpReplyCode = 7; }, 7, true},
        {"closes half-way", [](SimFaults& f) { f.closeHalfway = true; }, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimConfig config;
        config.devices.push_back(device(siteAddress(0)));
        c.fault(config.devices[0].faults);
        auto site = startSite(config);
        Tool tool;
        int port = 0;
        EXPECT_EQ(upload(tool, siteAddress(0), path, port), -1);
        SimRecord record = waitRecord(
            *site, [](const SimRecord& r) { return !r.uploads.empty() && r.uploads[0].endedMs > 0; });
        ASSERT_EQ(record.uploads.size(), 1u);
        EXPECT_EQ(record.uploads[0].reply, c.reply);
        EXPECT_EQ(record.uploads[0].complete, c.complete);
        EXPECT_EQ(record.uploads[0].receivedSize,
                  c.complete ? record.uploads[0].declaredSize : record.uploads[0].declaredSize / 2);
        std::string answer;
        ASSERT_EQ(tool.request(siteAddress(0), QNACTION_REBOOT, QNACTION_REBOOT_OK, answer), 0);
        EXPECT_EQ(site->softVersion(siteAddress(0)), "2.3.9");  // a refused upload changes nothing
    }
}

// Hostile or broken clients get an error reply or a closed connection, never a stuck service.
TEST(SimSiteTest, UploadServiceRefusesBrokenPuts) {
    SimConfig config;
    config.devices.push_back(device(siteAddress(0)));
    auto site = startSite(config);
    Tool tool;
    std::string answer;
    ASSERT_EQ(
        tool.request(siteAddress(0), QNACTION_START_UPLOAD_SERVICE, QNACTION_START_UPLOAD_SERVICE_OK, answer),
        0);
    const int port = std::stoi(value(answer, QNKEY_PORT).value_or("0"));
    ASSERT_GT(port, 0);
    auto le = [](int32_t v) {
        std::string s;
        for (int i = 0; i < 4; ++i) s += static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
        return s;
    };
    const std::string inputs[] = {
        le(9),                                // unknown command
        le(1) + le(-1),                       // negative name length
        le(1) + le(1 << 20),                  // name too long
        le(1) + le(1) + "a" + le(0),          // empty file
        le(1) + le(1) + "a" + le(419430401),  // above 400 MiB
    };
    for (const std::string& input : inputs) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, siteAddress(0).c_str(), &address.sin_addr);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::send(fd, input.data(), input.size(), MSG_NOSIGNAL), static_cast<ssize_t>(input.size()));
        std::string got;
        char buffer[512];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            got.append(buffer, static_cast<size_t>(n));
        ::close(fd);
        ASSERT_GE(got.size(), 8u);  // 255, a length and a text, then the service closed the connection
        EXPECT_EQ(got.substr(0, 4), le(255));
    }
    SimRecord record = waitRecord(*site, [](const SimRecord& r) {
        if (r.uploads.size() < 5) return false;
        for (const auto& u : r.uploads)
            if (u.endedMs == 0) return false;
        return true;
    });
    ASSERT_EQ(record.uploads.size(), 5u);
    for (const auto& u : record.uploads) {
        EXPECT_EQ(u.reply, 255);
        EXPECT_FALSE(u.complete);
    }
}

TEST(SimSiteTest, RecordsTheMostSimultaneousTransfers) {
    SimConfig config;
    for (int i = 0; i < 3; ++i) config.devices.push_back(device(siteAddress(i)));
    auto site = startSite(config);
    Tool tool;
    std::vector<int> fds;
    for (int i = 0; i < 3; ++i) {
        std::string answer;
        ASSERT_EQ(tool.request(siteAddress(i), QNACTION_START_UPLOAD_SERVICE,
                               QNACTION_START_UPLOAD_SERVICE_OK, answer),
                  0);
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(std::stoi(*value(answer, QNKEY_PORT))));
        inet_pton(AF_INET, siteAddress(i).c_str(), &address.sin_addr);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        fds.push_back(fd);
    }
    SimRecord record = waitRecord(*site, [](const SimRecord& r) { return r.uploads.size() == 3; });
    for (int fd : fds) ::close(fd);
    record = waitRecord(*site, [](const SimRecord& r) {
        for (const auto& u : r.uploads)
            if (u.endedMs == 0) return false;
        return r.uploads.size() == 3;
    });
    EXPECT_EQ(record.maxConcurrentTransfers, 3);
}

TEST(SimSiteTest, ThreeHundredDevicesAllAnswer) {
    std::string error;
    SimConfig config;
    ASSERT_EQ(simConfigFromJson(R"({"devices": [{"count": 300, "model": "QN-S210", "serialNum": "QNT1S21{n}",
        "softVersion": "2.4.0", "hardVersion": "HW", "kernelVersion": "K"}]})",
                                config, error),
              0)
        << error;
    ASSERT_EQ(config.devices.size(), 300u);
    auto site = startSite(config);
    Tool tool;
    // Like the connect thread: one request per device from one socket, then collect the answers.
    std::set<std::string> answered;
    for (int round = 0; round < 2 && answered.size() < 300; ++round) {
        for (const auto& d : config.devices)
            if (answered.count(d.ip) == 0)
                tool.send(d.ip, 5360, buildActionRequest(QNACTION_GET_SYSTEM_INFO));
        for (const std::string& text : tool.receiveAll(5)) {
            SS_PairList list = pairs(text);
            ASSERT_TRUE(systemInfoHasRequiredKeys(list)) << text;
            answered.insert(*value(text, QNKEY_IP));
        }
    }
    EXPECT_EQ(answered.size(), 300u);
    EXPECT_EQ(config.devices.back().ip, "198.51.100.48");  // 253 in the first prefix, then the second
    SimRecord record = site->record();
    for (const auto& d : config.devices)
        EXPECT_GE(record.countSent(d.ip, QNACTION_GET_SYSTEM_INFO_OK), 1) << d.ip;
}

TEST(SimSiteTest, RecordAsJsonShowsEveryExchange) {
    quenta_test::TempDir dir;
    const std::string path = writePackage(dir, "5.0.0", 3000);
    SimConfig config;
    config.addressBox = addressBox(siteAddress(0));
    config.devices.push_back(device(siteAddress(1)));
    auto site = startSite(config);
    Tool tool;
    std::string answer;
    tool.send(siteAddress(0), 5160, buildGetModelIPList(makeAuthToken("QN-H200")->c_str(), "QN-H200"));
    ASSERT_EQ(tool.receiveAll(2).size(), 1u);
    int port = 0;
    ASSERT_EQ(upload(tool, siteAddress(1), path, port), 0);
    ASSERT_EQ(tool.request(siteAddress(1), QNACTION_REBOOT, QNACTION_REBOOT_OK, answer), 0);
    site->stop();
    SimRecord record = site->record();
    EXPECT_GT(record.endedMs, 0);

    const nlohmann::json json = nlohmann::json::parse(simRecordToJson(record), nullptr, false);
    ASSERT_TRUE(json.is_object());
    ASSERT_TRUE(json.contains("datagrams") && json.contains("uploads") && json.contains("reboots"));
    std::vector<std::string> actions;
    for (const auto& d : json["datagrams"]) actions.push_back(d.value("action", ""));
    const std::vector<std::string> expected = {
        "GetModelIPList",       "UpdateIPAddress", "StartUploadService",
        "StartUploadServiceOK", "Reboot",          "RebootOK"};
    EXPECT_EQ(actions, expected);
    const nlohmann::json& u = json["uploads"].at(0);
    EXPECT_EQ(u["sha256"], sha256Of(quenta_test::readWholeFile(path)));
    EXPECT_EQ(u["closeCommand"], true);
    EXPECT_EQ(u["receivedSize"], quenta_test::readWholeFile(path).size());
    EXPECT_EQ(json["reboots"].at(0)["newVersion"], "5.0.0");
    EXPECT_EQ(json["maxConcurrentTransfers"], 1);
    // Members keep the order of the format, so a reader of the file sees time, peer and direction first.
    EXPECT_EQ(simRecordToJson(record).find("\"startedMs\""), simRecordToJson(record).find('"'));
}

// A text that is not GBK is written as hex under "…Hex", so the record stays valid UTF-8 JSON.
TEST(SimSiteTest, RecordWritesJunkTextsAsHex) {
    SimRecord record;
    SimDatagramRecord junk;
    junk.peerIp = siteAddress(0);
    junk.text = std::string("\xFF\xFF\x80z", 4);
    junk.action = "GetSystemInfo";
    record.datagrams.push_back(junk);
    const nlohmann::json json = nlohmann::json::parse(simRecordToJson(record), nullptr, false);
    ASSERT_TRUE(json.is_object());
    const nlohmann::json& d = json["datagrams"].at(0);
    EXPECT_EQ(d["textHex"], "ffff807a");
    EXPECT_FALSE(d.contains("text"));
    EXPECT_EQ(d["action"], "GetSystemInfo");
}

TEST(SimSiteTest, AddressBoxListFaultsApplyToTheListOnly) {
    SimConfig config;
    config.addressBox = addressBox(siteAddress(0));
    config.addressBox->listFaults.answerTwice = true;
    config.addressBox->listFaults.garbage = SimGarbage::Before;
    config.devices.push_back(device(siteAddress(1)));
    auto site = startSite(config);
    Tool tool;
    tool.send(siteAddress(0), 5160, buildGetModelIPList(makeAuthToken("QN-H200")->c_str(), "QN-H200"));
    std::vector<std::string> texts = tool.receiveAll();
    int lists = 0;
    for (const auto& text : texts)
        if (value(text, QNKEY_ACTION) == std::optional<std::string>(QNACTION_UPDATE_IP_ADDRESS)) ++lists;
    EXPECT_EQ(texts.size(), 4u);  // junk, list, junk, list
    EXPECT_EQ(lists, 2);
    std::string answer;  // the box's own system information is not affected
    ASSERT_EQ(tool.request(siteAddress(0), QNACTION_GET_SYSTEM_INFO, QNACTION_GET_SYSTEM_INFO_OK, answer), 0);
    EXPECT_EQ(site->record().countSent(siteAddress(0), QNACTION_GET_SYSTEM_INFO_OK), 1);
}

// The program: plays a configuration file until SIGTERM, then writes the record.
TEST(SimSiteTest, ProgramWritesTheRecordOnSigterm) {
    const char* binaryDir = std::getenv("QUENTA_BINARY_DIR");
    const std::string program = std::string(binaryDir ? binaryDir : "") + "/sim/quenta-sim";
    if (binaryDir == nullptr || access(program.c_str(), X_OK) != 0) GTEST_SKIP() << "quenta-sim is not built";
    quenta_test::TempDir dir;
    const std::string configPath = dir.file("site.json"), recordPath = dir.file("record.json");
    ASSERT_TRUE(quenta_test::writeWholeFile(
        configPath, "{\"devices\": [{\"ip\": \"" + siteAddress(5) +
                        "\", \"model\": \"M\", \"serialNum\": \"QNT1S210001\", \"softVersion\": \"1\"}]}"));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        execl(program.c_str(), program.c_str(), "--quiet", "--config", configPath.c_str(), "--record",
              recordPath.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    Tool tool;
    std::string answer;
    int result = -1;
    for (int i = 0; i < 10 && result != 0; ++i)  // until the program has bound its socket
        result = tool.request(siteAddress(5), QNACTION_GET_SYSTEM_INFO, QNACTION_GET_SYSTEM_INFO_OK, answer);
    EXPECT_EQ(result, 0);
    kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::string error;
    const nlohmann::json json = nlohmann::json::parse(quenta_test::readWholeFile(recordPath), nullptr, false);
    ASSERT_TRUE(json.is_object());
    int answers = 0;
    for (const auto& d : json["datagrams"])
        if (d.value("action", "") == "GetSystemInfoOK") ++answers;
    EXPECT_GE(answers, 1);
}

TEST(SimSiteTest, RefusesAddressesTheToolOrTheNetworkOwns) {
    std::string error;
    for (const char* ip : {"192.0.2.1", "198.51.100.1", "203.0.113.1", "127.0.0.1", "192.0.2.0",
                           "192.0.2.255", "10.0.0.300", "not an address"}) {
        EXPECT_EQ(simCheckBindAddress(ip, error), -1) << ip;
        SimConfig config;
        config.devices.push_back(device(ip));
        SimSite site(config);
        EXPECT_EQ(site.open(error), -1) << ip;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(simCheckBindAddress("192.0.2.2", error), 0) << error;  // we are in a private namespace
    EXPECT_EQ(simCheckBindAddress("127.0.0.9", error), 0) << error;
}

TEST(SimSiteTest, ConfigurationParsing) {
    std::string error;
    SimConfig config;
    ASSERT_EQ(simConfigFromJson(R"({
        "defaults": {"hardVersion": "H", "kernelVersion": "K", "softVersion": "1.0", "master": 3},
        "addressBox": {"model": "AB", "serialNum": "QNT0AB10001", "maxAddressesPerDatagram": 2,
                       "phantoms": ["192.0.2.99", {"ip": "192.0.2.98", "model": "X"}],
                       "listFaults": {"delayMs": 10}},
        "devices": [
          {"count": 2, "model": "多媒体", "serialNum": "SN-{n}-ABCDE", "systemInfoForm": "xor",
           "faults": {"garbage": "before", "tcpReplyCode": 7, "tcpErrorText": "满", "uploadPort": 70000,
                      "tcpErrorLength": 2147483647, "replyTrickleMs": 5000}},
          {"ip": "198.51.100.7", "model": "M", "master": null, "tcpSupport": false, "listed": false,
           "faults": {"rebootDownMs": 1500, "staysDown": true, "bootsOldVersion": true, "failFirstPut": true,
                      "loss": 0}}
        ], "loss": 0.05, "lossSeed": 42})",
                                config, error),
              0)
        << error;
    ASSERT_TRUE(config.addressBox);
    EXPECT_EQ(config.addressBox->device.ip, "192.0.2.2");
    EXPECT_EQ(config.addressBox->device.hardVersion, "H");
    EXPECT_EQ(config.addressBox->maxAddressesPerDatagram, 2);
    ASSERT_EQ(config.addressBox->phantoms.size(), 2u);
    EXPECT_EQ(config.addressBox->phantoms[0].model, "*");
    EXPECT_EQ(config.addressBox->listFaults.delayMs, 10);
    ASSERT_EQ(config.devices.size(), 3u);
    EXPECT_EQ(config.devices[0].ip, "192.0.2.3");
    EXPECT_EQ(config.devices[1].ip, "192.0.2.4");
    EXPECT_EQ(config.devices[1].serialNum, "SN-0002-ABCDE");
    EXPECT_EQ(config.devices[0].model, "\xB6\xE0\xC3\xBD\xCC\xE5");  // GBK on the wire
    EXPECT_EQ(config.devices[0].systemInfoForm, SimAnswerForm::Xor);
    EXPECT_EQ(config.devices[0].faults.garbage, SimGarbage::Before);
    EXPECT_EQ(config.devices[0].faults.tcpReplyCode, 7);
    EXPECT_EQ(config.devices[0].faults.tcpErrorText, "\xC2\xFA");
    EXPECT_EQ(config.devices[0].faults.uploadPort, 70000);
    EXPECT_EQ(config.devices[0].faults.tcpErrorLength, 2147483647);
    EXPECT_EQ(config.devices[0].faults.replyTrickleMs, 5000);
    EXPECT_EQ(config.devices[2].faults.uploadPort, std::nullopt);
    EXPECT_EQ(config.devices[0].master, 3);
    EXPECT_EQ(config.devices[2].master, std::nullopt);
    EXPECT_FALSE(config.devices[2].tcpSupport);
    EXPECT_FALSE(config.devices[2].listed);
    EXPECT_EQ(config.devices[2].faults.rebootDownMs, 1500);
    EXPECT_TRUE(config.devices[2].faults.staysDown);
    EXPECT_TRUE(config.devices[2].faults.bootsOldVersion);
    EXPECT_TRUE(config.devices[2].faults.failFirstPut);
    EXPECT_DOUBLE_EQ(config.loss, 0.05);
    EXPECT_EQ(config.lossSeed, 42u);
    EXPECT_EQ(config.devices[0].faults.loss, std::nullopt);
    EXPECT_EQ(config.devices[2].faults.loss, 0.0);

    const struct {
        const char* json;
        const char* fragment;
    } bad[] = {
        {R"({"devices": [{"ip": "192.0.2.5", "modle": "x"}]})", "modle"},
        {R"({"devices": [{"ip": "192.0.2.5"}, {"ip": "192.0.2.5"}]})", "used twice"},
        {R"({"devices": [{"answerForm": "rot13"}]})", "answerForm"},
        {R"({"devices": [{"faults": {"delayMs": -1}}]})", "delayMs"},
        {R"({"devices": [{"faults": {"explode": true}}]})", "explode"},
        {R"({"devices": [{"faults": {"rebootDownMs": 600001}}]})", "rebootDownMs"},
        {R"({"devices": [{"faults": {"staysDown": 1}}]})", "staysDown"},
        {R"({"devices": [{"ip": "203.0.113.254", "count": 2}]})", "run out"},
        {R"({"devices": [)", "line 1"},
        {R"({"device": []})", "device"},
        {R"({"addressBox": {"maxAddressesPerDatagram": 0}})", "maxAddressesPerDatagram"},
        {R"({"loss": 1.5})", "loss"},
        {R"({"devices": [{"faults": {"loss": "high"}}]})", "faults.loss"},
        {R"({"lossSeed": -1})", "lossSeed"},
        {R"({"devices": [{"faults": {"uploadPort": "70000"}}]})", "uploadPort"},
        {R"({"devices": [{"faults": {"uploadPort": 4294967296}}]})", "uploadPort"},
        {R"({"devices": [{"faults": {"tcpErrorLength": -1}}]})", "tcpErrorLength"},
        {R"({"devices": [{"faults": {"replyTrickleMs": 0}}]})", "replyTrickleMs"},
    };
    for (const auto& b : bad) {
        EXPECT_EQ(simConfigFromJson(b.json, config, error), -1) << b.json;
        EXPECT_NE(error.find(b.fragment), std::string::npos) << error;
    }
    // The demo site parses and holds about forty devices and an address box.
    ASSERT_EQ(
        simConfigLoad(std::string(std::getenv("QUENTA_SOURCE_DIR") ? std::getenv("QUENTA_SOURCE_DIR") : ".") +
                          "/sim/demo/site.json",
                      config, error),
        0)
        << error;
    EXPECT_TRUE(config.addressBox);
    EXPECT_GE(config.devices.size(), 35u);
    ASSERT_EQ(
        simConfigLoad(std::string(std::getenv("QUENTA_SOURCE_DIR") ? std::getenv("QUENTA_SOURCE_DIR") : ".") +
                          "/sim/demo/hostile-site.json",
                      config, error),
        0)
        << error;
    EXPECT_EQ(6u, config.devices.size());
}

TEST(SimSiteTest, BadPackagesHitTheirShareOfOneModel) {
    std::string error;
    SimConfig config;
    ASSERT_EQ(simConfigFromJson(R"({
        "devices": [{"count": 6, "model": "S"}, {"count": 2, "model": "H"}],
        "badPackages": [{"model": "S", "after": "oldVersion", "share": 0.67, "version": "2.4.1"},
                        {"model": "H", "after": "longSilence", "silenceMs": 5000}]})",
                                config, error),
              0)
        << error;
    std::string hits;
    for (const SimDeviceConfig& device : config.devices) hits += device.badPackage ? "x" : ".";
    EXPECT_EQ(".xx.xxxx", hits);
    ASSERT_TRUE(config.devices[1].badPackage);
    EXPECT_EQ(SimAfterBadPackage::oldVersion, config.devices[1].badPackage->after);
    EXPECT_EQ("2.4.1", config.devices[1].badPackage->version.value_or(""));
    EXPECT_EQ(5000, config.devices[7].badPackage->silenceMs);
    EXPECT_FALSE(config.devices[7].badPackage->version);
    for (const char* bad : {R"({"badPackages": [{"after": "neverBack"}]})",
                            R"({"badPackages": [{"model": "S", "after": "gone"}]})",
                            R"({"badPackages": [{"model": "S", "share": 2}]})", R"({"badPackages": {}})"})
        EXPECT_EQ(-1, simConfigFromJson(bad, config, error)) << bad;
}

TEST(SimSiteTest, Sha256KnownAnswers) {
    EXPECT_EQ(sha256Of(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Of("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256Of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // Streaming in uneven pieces gives the one-shot digest, and a finished stream starts over.
    std::string million(1000000, 'a');
    Sha256 sha;
    for (size_t at = 0; at < million.size(); at += 999)
        sha.update(million.data() + at, std::min<size_t>(999, million.size() - at));
    EXPECT_EQ(sha.finishHex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    sha.update("abc", 3);
    EXPECT_EQ(sha.finishHex(), sha256Of("abc"));
    EXPECT_EQ(sha.finishHex(), sha256Of(""));
}

// Broken or hostile configuration texts: an error that says where, never a crash.
TEST(SimSiteTest, ConfigurationSyntaxErrorsSayWhere) {
    std::string error;
    SimConfig config;
    const struct {
        std::string json;
        const char* fragment;
    } bad[] = {
        {"", "line 1, column 1"},
        {"{\n  \"devices\": [1,]\n}", "line 2, column 17"},
        {"{\"devices\" []}", "line 1"},
        {"\"\\ud800\"", "surrogate"},
        {"{\"comment\": \"a\x01\"}", "control character"},
        {"{\"comment\": \"\xFF\"}", "UTF-8"},
        {"[1] x", "line 1"},
        {"[1]", "must be a JSON object"},
        {std::string(100000, '['), "line 1"},
        {R"({"devices": [{"count": 1e3}]})", "count"},
        {R"({"loss": 1e999})", "number overflow"},
        {R"({"devices": [{"count": 18446744073709551615}]})", "count"},
        {R"({"addressBox": {"phantoms": [{"ip": "192.0.2.9", "modle": "X"}]}})", "phantoms[0].modle"},
    };
    for (const auto& b : bad) {
        EXPECT_EQ(simConfigFromJson(b.json, config, error), -1) << b.json.substr(0, 80);
        EXPECT_NE(error.find(b.fragment), std::string::npos) << error;
        EXPECT_TRUE(config.devices.empty());
    }
    // \u escapes (with surrogate pairs) reach the wire as GBK where GBK has the character.
    ASSERT_EQ(
        simConfigFromJson(R"({"devices": [{"model": "\u591a\u5a92\u4f53", "serialNum": "\ud83d\ude00"}]})",
                          config, error),
        -1);
    EXPECT_NE(error.find("devices[0].serialNum cannot be written in GBK"), std::string::npos) << error;
    ASSERT_EQ(simConfigFromJson(R"({"devices": [{"model": "\u591a\u5a92\u4f53"}]})", config, error), 0)
        << error;
    EXPECT_EQ(config.devices.at(0).model, "\xB6\xE0\xC3\xBD\xCC\xE5");
}
