// test-labels: threads
// After the transfer: verification of the version after the reboot, the reason of every failure,
// the end-of-run summary, the end of a run and of a cancel only once every job is done, retry of
// failed devices, recovery of unanswered addresses and the report, against the simulated site.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "engine/upgrade_report.h"
#include "ss/ss_dir.h"
#include "ss/ss_tcpfile.h"
#include "tests/support/engine_site.h"
#include "tests/support/netns.h"
#include "tests/support/temp_dir.h"

QUENTA_TEST_IN_PRIVATE_NAMESPACE(40);

using namespace engine_test;

namespace {

SimDeviceConfig device(int index, const std::string& version = "2.3.9") {
    SimDeviceConfig c;
    c.ip = quenta_test::siteAddress(index);
    c.model = "QN-H200";
    c.platform = "hi3516a";
    c.hardVersion = "HW-1.0";
    c.kernelVersion = "3.10.108";
    c.softVersion = version;
    c.serialNum = "QNT2H20000" + std::to_string(index);
    return c;
}

SimConfig siteWith(std::vector<SimDeviceConfig> devices) {
    SimConfig config;
    SimAddressBoxConfig box;
    box.device = device(0, "1.8.0");
    box.device.model = "QN-AB100";
    box.device.serialNum = "QNT0AB10001";
    config.addressBox = box;
    config.devices = std::move(devices);
    return config;
}

class VerifyTest : public ::testing::Test {
  protected:
    quenta_test::ScopedDriveRoot drive;
    quenta_test::TempDir folder{"verify-"};
    std::string package = writePackage(folder.path(), "QN通用升级包-2.4.1.quenta", "QN-H200", "2.4.1");
    std::string addressBox = quenta_test::siteAddress(0);

    static void quick(FlowRig& rig, int timeoutMs) {
        rig.flow->setVerifyTimeoutMs(timeoutMs);
        rig.flow->setVerifyTiming(200, 1500);
    }
    static RowReason reasonOf(FlowRig& rig, const std::string& ip) {
        return rig.flow->rowReason(rig.rowOf(ip));
    }
};

TEST_F(VerifyTest, EveryRowEndsVerifiedOrFailedWithItsReason) {
    std::vector<SimDeviceConfig> devices;
    auto add = [&](auto&& tweak) {
        SimDeviceConfig c = device(static_cast<int>(devices.size()) + 1);
        tweak(c);
        devices.push_back(c);
        return c.ip;
    };
    const std::string back = add([](SimDeviceConfig& c) { c.faults.rebootDownMs = 1200; });
    const std::string old = add([](SimDeviceConfig& c) {
        c.faults.bootsOldVersion = true;
        c.faults.rebootDownMs = 600;
    });
    const std::string gone = add([](SimDeviceConfig& c) { c.faults.staysDown = true; });
    const std::string refused = add([](SimDeviceConfig& c) {
        c.faults.tcpErrorText = "\xB4\xE6\xB4\xA2\xBF\xD5\xBC\xE4\xB2\xBB\xD7\xE3";
    });
    const std::string portZero = add([](SimDeviceConfig& c) { c.faults.portZero = true; });
    const std::string noTcp = add([](SimDeviceConfig& c) { c.faults.noTcpSupport = true; });
    const std::string invalid = add([](SimDeviceConfig& c) { c.faults.tcpReplyCode = 7; });
    const std::string halfway = add([](SimDeviceConfig& c) { c.faults.closeHalfway = true; });
    FlowRig rig(siteWith(devices));
    ASSERT_TRUE(rig.ok) << rig.error;
    quick(rig, 4000);
    ASSERT_TRUE(rig.query(package, addressBox));
    ASSERT_EQ(8, rig.flow->list().RowCount());
    int verifyingSeen = 0;
    int unsettledAtEnd = -1;
    rig.ui.answer = [&](const ShownBox& box) {
        if (box.buttons == BoxButtons::yesNo) return box.text == flowtext::kConfirmCancel ? IDYES : IDNO;
        if (box.text.rfind("升级完成！", 0) == 0)
            unsettledAtEnd = rig.flow->rowsWithStatus(DEVICE_STATUS_VERIFYING) +
                             rig.flow->rowsWithStatus(DEVICE_STATUS_UPGRADING) +
                             rig.flow->rowsWithStatus(DEVICE_STATUS_WAIT_UPGRADE);
        return box.buttons == BoxButtons::yesNo ? IDNO : IDOK;
    };
    rig.flow->clearRunEnded();
    rig.flow->OnBnClickedOk();
    rig.ui.serveUntil([&] {
        verifyingSeen = std::max(verifyingSeen, rig.flow->rowsWithStatus(DEVICE_STATUS_VERIFYING));
        return rig.flow->runFinished();
    });
    EXPECT_EQ(0, unsettledAtEnd) << "the run ends only when every row is settled";
    EXPECT_GE(verifyingSeen, 1) << "rebooted devices show 正在验证";

    EXPECT_EQ("升级完成", rig.status(back));
    EXPECT_EQ("2.4.1", rig.cell(back, DEVICE_COLUMN_SOFT_VERSION));
    EXPECT_EQ(FailureReason::none, reasonOf(rig, back).reason);

    EXPECT_EQ("升级失败", rig.status(old));
    EXPECT_EQ("2.3.9", rig.cell(old, DEVICE_COLUMN_SOFT_VERSION)) << "the version it came back with";
    EXPECT_EQ(FailureReason::otherVersion, reasonOf(rig, old).reason);
    EXPECT_EQ("设备重启后的版本为2.3.9", failureReasonText(reasonOf(rig, old)));

    EXPECT_EQ("升级失败", rig.status(gone));
    EXPECT_EQ(FailureReason::noAnswerAfterReboot, reasonOf(rig, gone).reason);

    const struct {
        std::string ip;
        FailureReason reason;
        const char* code;
    } failures[] = {
        {refused, FailureReason::deviceError, "device_error"},
        {portZero, FailureReason::noUploadPort, "no_upload_port"},
        {noTcp, FailureReason::tcpNotSupported, "tcp_not_supported"},
        {invalid, FailureReason::invalidReply, "invalid_reply"},
    };
    for (const auto& f : failures) {
        EXPECT_EQ("升级失败", rig.status(f.ip)) << f.ip;
        EXPECT_EQ(f.reason, reasonOf(rig, f.ip).reason) << f.ip;
        EXPECT_STREQ(f.code, failureReasonCode(reasonOf(rig, f.ip).reason));
        EXPECT_EQ("2.3.9", rig.cell(f.ip, DEVICE_COLUMN_SOFT_VERSION)) << f.ip;
    }
    EXPECT_EQ("设备拒绝了升级包：存储空间不足", failureReasonText(reasonOf(rig, refused)));
    // A peer that closes halfway: the send breaks, or (when the socket buffers took the whole
    // content) the verdict never comes.
    RowReason broken = reasonOf(rig, halfway);
    EXPECT_EQ("升级失败", rig.status(halfway));
    if (broken.reason == FailureReason::transferBroken) {
        EXPECT_GE(broken.percent, 40);
        EXPECT_LE(broken.percent, 100);
    } else {
        EXPECT_EQ(FailureReason::noVerdict, broken.reason);
    }

    // The summary: "升级完成！" first, then the counts and the hint.
    const std::string& summary = rig.ui.boxes.back().text;
    EXPECT_EQ(0u, summary.find("升级完成！\n成功：1 台\n失败：7 台\n未验证：0 台")) << summary;
    EXPECT_NE(std::string::npos, summary.find("重试失败的设备"));

    // The report's rows match the list.
    const std::string json = folder.path() + "/报告.json";
    const std::string csv = folder.path() + "/报告.csv";
    std::string error;
    ASSERT_EQ(0, rig.flow->writeReport(json, error)) << error;
    ASSERT_EQ(0, rig.flow->writeReport(csv, error)) << error;
    nlohmann::json report = nlohmann::json::parse(quenta_test::readWholeFile(json));
    EXPECT_EQ("2.4.1", report["package"]["version"]);
    EXPECT_EQ(32u, report["package"]["md5"].get<std::string>().size());
    EXPECT_EQ(addressBox, report["addressBox"]);
    ASSERT_EQ(8u, report["devices"].size());
    for (const auto& d : report["devices"]) {
        const std::string ip = d["ip"];
        EXPECT_EQ(rig.status(ip), d["status"]) << ip;
        EXPECT_EQ(failureReasonCode(reasonOf(rig, ip).reason), d["reason"].get<std::string>()) << ip;
        EXPECT_EQ("2.3.9", d["versionBefore"]) << ip;
        EXPECT_EQ(rig.cell(ip, DEVICE_COLUMN_SOFT_VERSION), d["versionAfter"]) << ip;
        EXPECT_FALSE(d["startTime"].get<std::string>().empty()) << ip;
    }
    EXPECT_GT(report["devices"][0]["bytesSent"].get<int64_t>(), 0);
    const std::string csvText = quenta_test::readWholeFile(csv);
    EXPECT_EQ(0u, csvText.find("\xEF\xBB\xBF")) << "UTF-8 with BOM";
    EXPECT_NE(std::string::npos, csvText.find(refused + ",QN-H200,")) << csvText;
    EXPECT_NE(std::string::npos, csvText.find("设备拒绝了升级包：存储空间不足"));
    // A report never overwrites the package.
    EXPECT_EQ(-1, rig.flow->writeReport(package, error));
}

// Hostile upload services: a port number outside 1..65535 (70000 would wrap to 4464, where the
// device does listen), an error reply declaring 2^31-1 bytes, and a reply trickled byte by byte.
// Each ends 升级失败 with its reason, the run ends, and nothing of the package reaches a wrapped port.
TEST_F(VerifyTest, HostileUploadServicesEndFailedWithTheirReason) {
    std::vector<SimDeviceConfig> devices;
    auto add = [&](auto&& tweak) {
        SimDeviceConfig c = device(static_cast<int>(devices.size()) + 1);
        tweak(c);
        devices.push_back(c);
        return c.ip;
    };
    const std::string wraps = add([](SimDeviceConfig& c) { c.faults.uploadPort = 70000; });
    const std::string minusOne = add([](SimDeviceConfig& c) { c.faults.uploadPort = -1; });
    const std::string zero = add([](SimDeviceConfig& c) { c.faults.uploadPort = 0; });
    const std::string huge = add([](SimDeviceConfig& c) { c.faults.tcpErrorLength = 0x7FFFFFFF; });
    const std::string trickled = add([](SimDeviceConfig& c) {
        c.faults.tcpErrorLength = 400;  // 408 bytes at one per 100 ms: 41 s without the reply limit
        c.faults.replyTrickleMs = 100;
    });
    const std::string good = add([](SimDeviceConfig& c) { c.faults.replyTrickleMs = 20; });  // 4 bytes
    SS_TcpFile_setReplyLimitMs(1500);
    FlowRig rig(siteWith(devices));
    ASSERT_TRUE(rig.ok) << rig.error;
    quick(rig, 4000);
    ASSERT_TRUE(rig.query(package, addressBox));
    ASSERT_EQ(6, rig.flow->list().RowCount());
    rig.flow->clearRunEnded();
    rig.flow->OnBnClickedOk();
    rig.ui.serveUntil([&] { return rig.flow->runFinished(); });
    SS_TcpFile_setReplyLimitMs(SS_TCPFILE_DEFAULT_REPLY_MS);

    const SimRecord record = rig.site->record();
    for (const std::string& ip : {wraps, minusOne, zero}) {
        EXPECT_EQ("升级失败", rig.status(ip)) << ip;
        EXPECT_EQ(FailureReason::noUploadPort, reasonOf(rig, ip).reason) << ip;
        EXPECT_TRUE(record.uploadsTo(ip).empty()) << ip << ": no connection to a wrapped port";
    }
    for (const std::string& ip : {huge, trickled}) {
        EXPECT_EQ("升级失败", rig.status(ip)) << ip;
        EXPECT_EQ(FailureReason::invalidReply, reasonOf(rig, ip).reason) << ip;
        EXPECT_EQ("设备的回复无效", failureReasonText(reasonOf(rig, ip))) << ip;
    }
    EXPECT_EQ("升级完成", rig.status(good)) << "a reply trickled within its limit is read";
}

TEST_F(VerifyTest, CancelStopsTheWatchingAndSaysTheRowsAreNotVerified) {
    FlowRig rig(siteWith({[] {
        SimDeviceConfig c = device(1);
        c.faults.staysDown = true;
        return c;
    }()}));
    ASSERT_TRUE(rig.ok) << rig.error;
    quick(rig, 120000);
    ASSERT_TRUE(rig.query(package, addressBox));
    rig.flow->clearRunEnded();
    rig.flow->OnBnClickedOk();
    rig.ui.serveUntil([&] { return rig.flow->rowsWithStatus(DEVICE_STATUS_VERIFYING) == 1; });
    EXPECT_FALSE(rig.flow->runEnded()) << "a watched device holds the run open";
    // "取消" asks first; "否" leaves the run going.
    const auto meant = rig.ui.answer;
    rig.ui.answer = [](const ShownBox& box) { return box.buttons == BoxButtons::yesNo ? IDNO : IDOK; };
    rig.flow->OnBnClickedOk();
    EXPECT_EQ(flowtext::kConfirmCancel, rig.ui.boxes.back().text);
    EXPECT_TRUE(rig.flow->isUpgrading());
    rig.ui.answer = meant;
    rig.flow->OnBnClickedOk();  // "取消", "是"
    rig.ui.serveUntil([&] { return rig.flow->runFinished(); });
    // Took the package, never seen with the new version: 未验证, the version column as it was.
    const std::string ip = quenta_test::siteAddress(1);
    EXPECT_EQ("未验证", rig.status(ip));
    EXPECT_EQ("2.3.9", rig.cell(ip, DEVICE_COLUMN_SOFT_VERSION));
    EXPECT_EQ(FailureReason::notVerified, reasonOf(rig, ip).reason);
    EXPECT_EQ(0u,
              rig.ui.boxes.back().text.find("升级已取消\n成功：0 台\n失败：0 台\n未验证：1 台\n未升级：0 台"))
        << rig.ui.boxes.back().text;
}

TEST_F(VerifyTest, WithoutVerificationTheRowEndsAtTheRebootAsBefore) {
    FlowRig rig(siteWith({[] {
        SimDeviceConfig c = device(1);
        c.faults.staysDown = true;
        return c;
    }()}));
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_TRUE(rig.query(package, addressBox));
    rig.flow->click(IDC_VERIFY);
    EXPECT_FALSE(rig.flow->state().checked(IDC_VERIFY));
    const std::string ip = quenta_test::siteAddress(1);
    const int asked = rig.site->record().countReceived(ip, "GetSystemInfo");
    rig.upgradeAndWait();
    EXPECT_EQ("升级完成", rig.status(ip));
    EXPECT_EQ(asked, rig.site->record().countReceived(ip, "GetSystemInfo")) << "no question after the reboot";
}

TEST_F(VerifyTest, RetryTurnsADeviceThatFailedOnceIntoSuccess) {
    FlowRig rig(siteWith({[] {
                              SimDeviceConfig c = device(1);
                              c.faults.failFirstPut = true;
                              return c;
                          }(),
                          device(2, "2.4.1")}));
    ASSERT_TRUE(rig.ok) << rig.error;
    quick(rig, 5000);
    ASSERT_TRUE(rig.query(package, addressBox));
    const std::string ip = quenta_test::siteAddress(1);
    EXPECT_FALSE(rig.flow->canRetry());
    rig.upgradeAndWait();
    ASSERT_EQ("升级失败", rig.status(ip));
    EXPECT_EQ("设备拒绝了升级包：写入失败", failureReasonText(reasonOf(rig, ip)));
    // A refused package needs a person on site: "重试失败的设备" leaves it out; the operator who
    // selects the row retries it all the same.
    EXPECT_FALSE(rig.flow->canRetry());
    EXPECT_FALSE(rig.flow->retryFailed());
    rig.flow->list().SetSelected(rig.rowOf(ip), true);
    rig.flow->list().SetSelected(rig.rowOf(quenta_test::siteAddress(2)), true);
    ASSERT_TRUE(rig.flow->canRetrySelected());
    ASSERT_TRUE(rig.flow->retrySelected());
    rig.ui.serveUntil([&] { return rig.flow->runFinished(); });
    EXPECT_EQ("升级完成", rig.status(ip));
    EXPECT_EQ("2.4.1", rig.cell(ip, DEVICE_COLUMN_SOFT_VERSION));
    EXPECT_EQ(FailureReason::none, reasonOf(rig, ip).reason);
    EXPECT_EQ("已连接", rig.status(quenta_test::siteAddress(2)))
        << "only failed (or unverified) rows run again";
    EXPECT_EQ(2u, rig.site->record().uploadsTo(ip).size());
    EXPECT_TRUE(rig.site->record().uploadsTo(quenta_test::siteAddress(2)).empty());
    EXPECT_EQ(0u, rig.ui.boxes.back().text.find("升级完成！\n成功：1 台\n失败：0 台"));
    EXPECT_FALSE(rig.flow->canRetry());
}

// Runs the upgrade while `port` is held without SO_REUSEADDR and private sockets try one port
// only, so whoever takes that port of the counter finds none.
void upgradeWithPortHeld(FlowRig& rig, int port) {
    struct Blocker {
        int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        ~Blocker() {
            ::close(fd);
            setPrivatePortTriesForTesting(0);
        }
    } blocker;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    ASSERT_EQ(0, ::bind(blocker.fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
    setPrivatePortTriesForTesting(1);
    rig.upgradeAndWait();
}

// A job that finds no free UDP port ends its row 升级失败 instead of leaving it 等待升级.
TEST_F(VerifyTest, AJobWithoutAPortEndsFailed) {
    FlowRig rig(siteWith({device(1)}));
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_TRUE(rig.query(package, addressBox));
    // The job takes the next port of the counter.
    upgradeWithPortHeld(rig, nextJobPort() + 1);
    EXPECT_EQ("升级失败", rig.status(quenta_test::siteAddress(1)));
    EXPECT_EQ(FailureReason::noFreePort, reasonOf(rig, quenta_test::siteAddress(1)).reason);
}

// No port for the verifier: the device took the package but was never seen again: 未验证, its reason
// says why (nothing was cancelled) and the summary counts it apart.
TEST_F(VerifyTest, NoPortForTheVerifierSaysSoAndIsNotACancel) {
    FlowRig rig(siteWith({device(1)}));
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_TRUE(rig.query(package, addressBox));
    // The job takes the next port of the counter, the verifier the one after: hold that one.
    upgradeWithPortHeld(rig, nextJobPort() + 2);
    const std::string ip = quenta_test::siteAddress(1);
    EXPECT_EQ("未验证", rig.status(ip));
    EXPECT_EQ(FailureReason::noVerifyPort, reasonOf(rig, ip).reason);
    EXPECT_EQ("无法验证版本：没有可用的端口", failureReasonText(reasonOf(rig, ip)));
    EXPECT_EQ(1, rig.flow->lastRunSummary().notVerified);
}

// Jobs still in their StartUploadService or Reboot exchange hold the run and the cancel open.
TEST_F(VerifyTest, TheRunAndTheCancelEndOnlyWhenEveryJobHasFinished) {
    std::vector<SimDeviceConfig> devices;
    for (int i = 1; i <= 10; ++i) {
        SimDeviceConfig c = device(i);
        c.faults.delayMs = 400;  // every UDP answer is slow: long StartUploadService and Reboot
        devices.push_back(c);
    }
    FlowRig rig(siteWith(devices));
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_TRUE(rig.query(package, addressBox));
    ASSERT_EQ(10, rig.flow->list().CountRows(RC_ITEM_CHECKED));
    rig.flow->click(IDC_VERIFY);  // the old end of run: no watching to hold it open
    int busyAtEnd = -1;
    rig.ui.answer = [&](const ShownBox& box) {
        if (box.buttons == BoxButtons::yesNo) return box.text == flowtext::kConfirmCancel ? IDYES : IDNO;
        if (box.text.rfind("升级完成！", 0) == 0)
            busyAtEnd = rig.flow->rowsWithStatus(DEVICE_STATUS_UPGRADING) +
                        rig.flow->rowsWithStatus(DEVICE_STATUS_WAIT_UPGRADE);
        return IDOK;
    };
    rig.upgradeAndWait();
    EXPECT_EQ(0, busyAtEnd) << "\"升级完成！\" while rows were still upgrading";
    EXPECT_EQ(10, rig.flow->rowsWithStatus(DEVICE_STATUS_UPGRADE_DONE));

    // Again, cancelled while jobs are in their exchanges: the cancel's wait returns only when they
    // are done.
    rig.flow->click(IDC_SELECT_ALL);
    for (int row = 0; row < rig.flow->list().RowCount(); ++row) {
        setRowStatus(rig.flow->list(), row, DEVICE_STATUS_CONNECTED);
        rig.flow->list().SetCheck(row, true);
    }
    rig.flow->clearRunEnded();
    rig.flow->OnBnClickedOk();
    rig.ui.serveUntil([&] { return rig.flow->rowsWithStatus(DEVICE_STATUS_UPGRADING) > 0; });
    rig.flow->OnBnClickedOk();  // "取消"
    EXPECT_EQ(0, rig.flow->rowsWithStatus(DEVICE_STATUS_UPGRADING))
        << "the cancel returned with jobs running";
    rig.ui.serveUntil([&] { return rig.flow->runFinished(); });
}

TEST_F(VerifyTest, RecoveryListsLateDevicesInPlaceAndSaysWhyTheOthersFailed) {
    std::vector<SimDeviceConfig> devices;
    for (int i = 1; i <= 4; ++i) devices.push_back(device(i));
    devices[1].faults.delayMs = 5000;  // answers after the query has ended
    devices[2].faults.noSerialNum = true;
    devices[3].faults.silent = true;
    FlowRig rig(siteWith(devices));
    ASSERT_TRUE(rig.ok) << rig.error;
    EXPECT_FALSE(rig.flow->canRecover()) << "enabled after a query";
    ASSERT_TRUE(rig.query(package, addressBox, {}, true));
    const std::string late = devices[1].ip, incomplete = devices[2].ip, silent = devices[3].ip;
    ASSERT_EQ("连接失败", rig.status(late));
    EXPECT_EQ(FailureReason::neverAnswered, reasonOf(rig, late).reason);
    EXPECT_EQ(-1, rig.rowOf(incomplete)) << "it answered: no 连接失败 row";
    EXPECT_EQ(FailureReason::neverAnswered, reasonOf(rig, silent).reason);
    const int lateRow = rig.rowOf(late);

    ASSERT_TRUE(rig.flow->canRecover());
    rig.flow->setRecoveryOptions(RecoveryOptions{2, 6000, 10});
    EXPECT_EQ(1, rig.flow->recoverUnanswered());
    EXPECT_EQ(lateRow, rig.rowOf(late)) << "updated in place";
    EXPECT_EQ("已连接", rig.status(late));
    EXPECT_TRUE(rig.checked(late));
    EXPECT_FALSE(rig.flow->list().IsRowCheckLocked(lateRow));
    EXPECT_EQ("2.3.9", rig.cell(late, DEVICE_COLUMN_SOFT_VERSION));
    EXPECT_EQ("连接失败", rig.status(silent));
    EXPECT_EQ(-1, rig.rowOf(incomplete)) << "recovery adds no row for it either";
    EXPECT_EQ(3, rig.flow->list().RowCount()) << "one row per address";
    EXPECT_EQ("重新连接完成：找回1台设备，仍有1台设备没有应答", rig.ui.boxes.back().text);
}

}  // namespace
