// test-labels: threads
// Upgrades against the simulated site: the package arrives byte for byte under the shared upload
// path, at most 8 transfers at once, one UDP port per job, every row ends in the right status;
// cancel; single-IP mode; rows re-sorted while jobs run.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "protocol/device_actions.h"
#include "sim/sha256.h"
#include "ss/ss_dir.h"
#include "tests/support/engine_site.h"
#include "tests/support/netns.h"
#include "tests/support/temp_dir.h"

QUENTA_TEST_IN_PRIVATE_NAMESPACE(80);

using namespace engine_test;

namespace {

class UpgradeTest : public ::testing::Test {
  protected:
    quenta_test::ScopedDriveRoot drive;
    quenta_test::TempDir folder{"upgrade-"};
    MixedSite site = makeMixedSite();
    std::string package = writePackage(folder.path(), "QN通用升级包-2.4.1.quenta",
                                       "QN-H200,QN-S210,QN-D310,QN-Q800", "2.4.1", 256 * 1024);
};

TEST_F(UpgradeTest, DeliversThePackageToEverySelectedDeviceAndEndsEachRowRight) {
    FlowRig rig(site.config);
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_TRUE(rig.query(package, site.addressBoxIp, site.tickedModels));
    const std::string uploadPath = ss_text_gbkToUtf8(rig.flow->sharedUploadPath());
    rig.upgradeAndWait();
    // The summary box: "升级完成！" first, then the counts of the run.
    EXPECT_EQ(0u, rig.ui.boxes.back().text.find(
                      "升级完成！\n成功：" + std::to_string(site.count(Expect::older)) + " 台\n失败：" +
                      std::to_string(site.count(Expect::uploadFails)) + " 台\n未验证：0 台"))
        << rig.ui.boxes.back().text;
    EXPECT_FALSE(rig.flow->isUpgrading());
    EXPECT_EQ("升级", rig.flow->state().text(IDC_UPGRADE));
    EXPECT_TRUE(rig.flow->state().enabled(IDC_BROWSE));

    SimRecord record = rig.site->record();
    const std::string digest = sha256Of(quenta_test::readWholeFile(package));
    std::set<std::string> fittingPaths;
    for (const auto& c : site.config.devices) fittingPaths.insert(c.uploadPath);
    EXPECT_EQ(1u, fittingPaths.count(ss_text_utf8ToGbk(uploadPath))) << "shared path is a device's path";
    for (const auto& d : site.devices) {
        auto uploads = record.uploadsTo(d.ip);
        switch (d.expect) {
            case Expect::older:
                EXPECT_EQ("升级完成", rig.status(d.ip)) << d.ip;
                EXPECT_EQ("2.4.1", rig.cell(d.ip, DEVICE_COLUMN_SOFT_VERSION));
                EXPECT_FALSE(rig.checked(d.ip));
                ASSERT_EQ(1u, uploads.size()) << d.ip;
                EXPECT_TRUE(uploads[0].complete);
                EXPECT_EQ(digest, uploads[0].sha256) << d.ip;
                EXPECT_EQ(ss_text_utf8ToGbk(uploadPath), uploads[0].remoteName) << d.ip;
                // Reboot goes out once per round of its request until RebootOK comes: a second time
                // only when the answer was late (a loaded machine, a sanitizer build).
                EXPECT_GE(record.countReceived(d.ip, QNACTION_REBOOT), 1) << d.ip;
                EXPECT_LE(record.countReceived(d.ip, QNACTION_REBOOT), 2) << d.ip;
                break;
            case Expect::uploadFails:
                EXPECT_EQ("升级失败", rig.status(d.ip)) << d.ip;
                EXPECT_EQ(d.softVersion, rig.cell(d.ip, DEVICE_COLUMN_SOFT_VERSION)) << "keeps its version";
                EXPECT_EQ(0xFFFFFF, rig.flow->list().GetCellTextColor(rig.rowOf(d.ip), 1));
                EXPECT_EQ(0x0000FF, rig.flow->list().GetCellBackColor(rig.rowOf(d.ip), 1));
                for (const auto& u : uploads) {
                    EXPECT_FALSE(u.complete && u.reply == 5) << d.ip;
                }
                break;
            case Expect::upToDate:
                EXPECT_EQ("已连接", rig.status(d.ip));
                EXPECT_TRUE(uploads.empty());
                EXPECT_EQ(0, record.countReceived(d.ip, QNACTION_START_UPLOAD_SERVICE));
                break;
            default:
                EXPECT_TRUE(uploads.empty()) << d.ip;
                break;
        }
    }
    EXPECT_LE(record.maxConcurrentTransfers, 8);
    EXPECT_GE(record.maxConcurrentTransfers, 1);
    EXPECT_LE(rig.ui.maxTimersRunning, 8);

    // Every job used its own UDP port: StartUploadService requests come from distinct ports.
    std::map<std::string, std::string> portOwner;
    for (const auto& datagram : record.datagrams) {
        if (!datagram.received || datagram.action != QNACTION_START_UPLOAD_SERVICE) continue;
        std::string port = datagram.remote.substr(datagram.remote.find(':') + 1);
        auto [it, inserted] = portOwner.emplace(port, datagram.peerIp);
        if (!inserted) {
            EXPECT_EQ(it->second, datagram.peerIp) << "port " << port << " used by two jobs";
        }
    }
    // A device without TCP support gets no transfer and no Reboot.
    for (const auto& d : site.devices)
        if (!d.tcp) {
            EXPECT_EQ(0, record.countReceived(d.ip, QNACTION_REBOOT)) << d.ip;
        }
}

TEST_F(UpgradeTest, CancelReturnsWaitingRowsAndStillEndsTheRun) {
    FlowRig rig(site.config);
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_TRUE(rig.query(package, site.addressBoxIp, site.tickedModels));
    rig.flow->click(IDC_SELECT_ALL);  // every connected row: 34 jobs, more than the 8 workers
    const int selected = rig.flow->list().CountRows(RC_ITEM_CHECKED);
    ASSERT_GT(selected, 8);
    rig.flow->clearRunEnded();
    rig.flow->OnBnClickedOk();
    DeviceList& list = rig.flow->list();
    rig.ui.serveUntil([&] { return rig.flow->rowsWithStatus(DEVICE_STATUS_UPGRADING) > 0; });
    rig.flow->OnBnClickedOk();  // "取消"
    EXPECT_EQ("正在取消，请等待当前文件传输完成...", rig.ui.progressBoxes.back());
    EXPECT_EQ("升级", rig.flow->state().text(IDC_UPGRADE));
    EXPECT_EQ(0, rig.flow->rowsWithStatus(DEVICE_STATUS_WAIT_UPGRADE));
    rig.ui.serveUntil([&] { return rig.flow->runFinished(); });
    int back = 0, ended = 0;
    for (int row = 0; row < list.RowCount(); ++row) {
        int code = rowStatus(list, row);
        if (code == DEVICE_STATUS_CONNECTED && list.GetCheck(row)) ++back;
        if (code == DEVICE_STATUS_UPGRADE_DONE || code == DEVICE_STATUS_UPGRADE_FAILED ||
            code == DEVICE_STATUS_UNVERIFIED)
            ++ended;
    }
    EXPECT_GT(back, 0) << "waiting rows return to 已连接, ticked";
    EXPECT_GT(ended, 0) << "started jobs finish";
    EXPECT_EQ(selected, back + ended);
    // The end box says the run was cancelled, counts what never started and names the run's own
    // report, which lists every address the address box named (silent ones too).
    const std::string& summary = rig.ui.boxes.back().text;
    EXPECT_EQ(0u, summary.find("升级已取消\n")) << summary;
    EXPECT_NE(std::string::npos, summary.find("\n未升级：" + std::to_string(back) + " 台")) << summary;
    ASSERT_FALSE(rig.flow->lastReportPath().empty()) << rig.flow->lastReportError();
    EXPECT_NE(std::string::npos, summary.find("报告已保存：" + rig.flow->lastReportPath()));
    int named = static_cast<int>(site.phantoms.size());
    for (const auto& d : site.devices)
        if (d.expect != Expect::notAsked) ++named;
    const std::string own = quenta_test::readWholeFile(rig.flow->lastReportPath());
    int lines = 0;
    for (size_t at = own.find("\r\n192.0.2."); at != std::string::npos; at = own.find("\r\n192.0.2.", at + 1))
        ++lines;
    EXPECT_EQ(named, lines) << own;
    // Transfers that ran were not cut short.
    SimRecord record = rig.site->record();
    for (const auto& u : record.uploads) {
        bool faulty = false;
        for (const auto& d : site.devices)
            if (d.ip == u.deviceIp && d.expect == Expect::uploadFails) faulty = true;
        if (!faulty) {
            EXPECT_TRUE(u.complete) << u.deviceIp;
        }
    }
}

TEST_F(UpgradeTest, SingleIpModeAddsEachAddressOnceAndUpgradesIt) {
    SimConfig config = site.config;
    SimDeviceConfig odd = config.devices[0];
    odd.ip = quenta_test::siteAddress(70);
    odd.model = "QN-X999";
    config.devices.push_back(odd);
    FlowRig rig(config);
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_EQ(0, rig.flow->loadPackageFile(package));
    rig.flow->setAddressBoxIp(site.addressBoxIp);
    rig.flow->click(IDC_RADIO_SINGLE);
    ASSERT_TRUE(rig.flow->state().enabled(IDC_ADD));
    std::string older, silent;
    for (const auto& d : site.devices) {
        if (d.expect == Expect::older && older.empty()) older = d.ip;
    }
    for (const auto& c : site.config.devices)
        if (c.faults.silent && silent.empty()) silent = c.ip;
    for (const auto& ip : {older, older, odd.ip}) {
        rig.flow->setSingleIp(ip);
        rig.flow->click(IDC_ADD);
    }
    EXPECT_EQ(2, rig.flow->list().RowCount());
    EXPECT_EQ("非法型号", rig.status(odd.ip));
    EXPECT_TRUE(rig.flow->list().IsRowCheckLocked(rig.rowOf(odd.ip)));
    size_t mark = rig.ui.boxes.size();
    rig.flow->setSingleIp(silent);
    rig.flow->click(IDC_ADD);
    ASSERT_TRUE(rig.ui.errorSince(mark));
    EXPECT_EQ("不能从" + silent + "获得系统信息，或许它的软件版本太老", rig.ui.errorSince(mark)->text);
    rig.flow->setSingleIp("0.0.0.0");
    mark = rig.ui.boxes.size();
    rig.flow->click(IDC_ADD);
    EXPECT_EQ("请先输入要升级设备的IP地址", rig.ui.errorSince(mark)->text);

    EXPECT_TRUE(rig.checked(older));
    rig.upgradeAndWait();
    EXPECT_EQ("升级完成", rig.status(older));
    EXPECT_EQ("2.4.1", rig.cell(older, DEVICE_COLUMN_SOFT_VERSION));
    EXPECT_EQ(1u, rig.site->record().uploadsTo(older).size());
    EXPECT_TRUE(rig.site->record().uploadsTo(odd.ip).empty());
}

TEST_F(UpgradeTest, RowsResortedDuringTheRunStillEndOnTheirOwnDevice) {
    FlowRig rig(site.config);
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_TRUE(rig.query(package, site.addressBoxIp, site.tickedModels));
    DeviceList& list = rig.flow->list();
    rig.flow->clearRunEnded();
    rig.flow->OnBnClickedOk();
    bool sorted = false;
    rig.ui.serveUntil([&] {
        if (!sorted) {
            sorted = rig.flow->rowsWithStatus(DEVICE_STATUS_UPGRADING) > 0;
            if (sorted) list.SortByColumn(DEVICE_COLUMN_IP, false);  // a header click
            return false;
        }
        return rig.flow->runFinished();
    });
    for (const auto& d : site.devices) {
        if (d.expect == Expect::older) {
            EXPECT_EQ("升级完成", rig.status(d.ip)) << d.ip;
        } else if (d.expect == Expect::uploadFails) {
            EXPECT_EQ("升级失败", rig.status(d.ip)) << d.ip;
        } else if (d.expect == Expect::upToDate) {
            EXPECT_EQ("已连接", rig.status(d.ip)) << d.ip;
        }
    }
    EXPECT_EQ(0, rig.ui.timersRunning());
}

}  // namespace
