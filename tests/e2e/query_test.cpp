// test-labels: threads
// The device-list query against a simulated site of about 50 devices: who is listed, with which
// status, columns and colours; the failed-device step; the version rule; kind-specific packages.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "engine/upgrade_report.h"
#include "package/package_load.h"
#include "protocol/device_actions.h"
#include "ss/ss_platform.h"
#include "tests/support/engine_site.h"
#include "tests/support/netns.h"
#include "tests/support/refusal_rules.h"
#include "tests/support/temp_dir.h"

QUENTA_TEST_IN_PRIVATE_NAMESPACE(80);

using namespace engine_test;

namespace {

class QueryTest : public ::testing::Test {
  protected:
    quenta_test::ScopedDriveRoot drive;
    quenta_test::TempDir folder{"query-"};
    MixedSite site = makeMixedSite();
    std::string package =
        writePackage(folder.path(), "QN通用升级包-2.4.1.quenta", "QN-H200,QN-S210,QN-D310,QN-Q800", "2.4.1");
};

TEST_F(QueryTest, ListsExactlyTheAnsweringDevicesOfTheTickedModels) {
    FlowRig rig(site.config);
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_TRUE(rig.query(package, site.addressBoxIp, site.tickedModels));
    DeviceList& list = rig.flow->list();

    std::set<std::string> listed;
    for (int row = 0; row < list.RowCount(); ++row) listed.insert(list.GetItemText(row, DEVICE_COLUMN_IP));
    EXPECT_EQ(static_cast<size_t>(list.RowCount()), listed.size()) << "a device listed twice";
    for (const auto& d : site.devices) {
        bool shouldList =
            d.expect == Expect::upToDate || d.expect == Expect::older || d.expect == Expect::uploadFails;
        EXPECT_EQ(shouldList, listed.count(d.ip) == 1) << d.ip << " model " << d.model;
        if (!shouldList) continue;
        EXPECT_EQ("已连接", rig.status(d.ip)) << d.ip;
        EXPECT_EQ(d.model, rig.cell(d.ip, DEVICE_COLUMN_MODEL));
        EXPECT_EQ(d.softVersion, rig.cell(d.ip, DEVICE_COLUMN_SOFT_VERSION));
        EXPECT_EQ("HW-1.0", rig.cell(d.ip, DEVICE_COLUMN_HARD_VERSION));
        EXPECT_EQ("3.10.108", rig.cell(d.ip, DEVICE_COLUMN_KERNEL_VERSION));
        EXPECT_EQ(d.tcp ? "TCP" : "UDP", rig.cell(d.ip, DEVICE_COLUMN_PROTOCOL)) << d.ip;
        // The version rule ticks exactly the connected rows whose version differs from 2.4.1.
        EXPECT_EQ(d.softVersion != "2.4.1", rig.checked(d.ip)) << d.ip;
        int row = rig.rowOf(d.ip);
        EXPECT_EQ(0x000000, list.GetCellTextColor(row, 4));
        EXPECT_EQ(0xE7E5C9, list.GetCellBackColor(row, 4));
    }
    for (const auto& phantom : site.phantoms) EXPECT_EQ(-1, rig.rowOf(phantom));

    // The version prompt came with the count of differing devices (and was answered "no").
    int differing = site.count(Expect::older) + site.count(Expect::uploadFails);
    ASSERT_FALSE(rig.ui.boxes.empty());
    EXPECT_EQ("共发现" + std::to_string(differing) + "个不同版本的设备可以升级, 现在立即升级吗？",
              rig.ui.boxes.back().text);
    EXPECT_EQ("信息", rig.ui.boxes.back().title);
    // The address box is asked under the progress box too: the window's thread never waits on it.
    EXPECT_EQ((std::vector<std::string>{"正在连接地址盒，请稍后...", "正在测试连接，请稍后..."}),
              rig.ui.progressBoxes);
    EXPECT_GT(rig.ui.lastSearchCount, 0);
}

TEST_F(QueryTest, MasterSlaveColumnsAndNA) {
    FlowRig rig(site.config);
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_TRUE(rig.query(package, site.addressBoxIp, site.tickedModels));
    for (const auto& c : site.config.devices) {
        if (rig.rowOf(c.ip) < 0) continue;
        int master = c.master.value_or(-1), slave = c.slave.value_or(-1);
        EXPECT_EQ(master > 0 ? std::to_string(master) : "N/A", rig.cell(c.ip, DEVICE_COLUMN_MASTER)) << c.ip;
        EXPECT_EQ(slave >= 0 ? std::to_string(slave) : "N/A", rig.cell(c.ip, DEVICE_COLUMN_SLAVE)) << c.ip;
    }
}

TEST_F(QueryTest, FailedDeviceStepAddsLockedRowsForSilentAddresses) {
    FlowRig rig(site.config);
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_TRUE(rig.query(package, site.addressBoxIp, site.tickedModels, true));
    DeviceList& list = rig.flow->list();
    std::vector<std::string> silent = site.phantoms;
    for (const auto& d : site.devices)
        if (d.expect == Expect::silent) silent.push_back(d.ip);
    // Devices that answered without the keys a row needs did answer: no row, not even 连接失败; the
    // report names them with their reason.
    const RunReport report = rig.flow->buildReport();
    for (const auto& d : site.devices)
        if (d.expect == Expect::noRow) {
            EXPECT_EQ(-1, rig.rowOf(d.ip)) << d.ip;
            const auto named = std::find_if(report.devices.begin(), report.devices.end(),
                                            [&](const ReportDevice& r) { return r.ip == d.ip; });
            ASSERT_NE(report.devices.end(), named) << d.ip;
            EXPECT_EQ("missing_keys", named->reason);
            EXPECT_EQ("设备的回复缺少必需的信息", named->reasonText);
            EXPECT_EQ("", named->status);
        }
    int failedRows = 0;
    for (int row = 0; row < list.RowCount(); ++row)
        if (rowStatus(list, row) == DEVICE_STATUS_CONNECT_FAILED) ++failedRows;
    EXPECT_EQ(static_cast<int>(silent.size()), failedRows);
    for (const auto& ip : silent) {
        int row = rig.rowOf(ip);
        ASSERT_GE(row, 0) << ip;
        EXPECT_EQ("连接失败", rig.status(ip));
        EXPECT_TRUE(list.IsRowCheckLocked(row));
        EXPECT_FALSE(list.GetCheck(row));
        EXPECT_EQ(0x7F7F7F, list.GetCellTextColor(row, 1));
    }
    EXPECT_GT(rig.ui.failedReports, 0);

    // Unticking the step removes exactly those rows.
    rig.flow->click(IDC_SHOW_FAILED);
    for (const auto& ip : silent) EXPECT_EQ(-1, rig.rowOf(ip));
    EXPECT_EQ(site.count(Expect::upToDate) + site.count(Expect::older) + site.count(Expect::uploadFails),
              list.RowCount());
}

TEST_F(QueryTest, UntickingTheVersionRuleUnticksConnectedRowsAndReportsNothingToDo) {
    FlowRig rig(site.config);
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_TRUE(rig.query(package, site.addressBoxIp, site.tickedModels));
    rig.flow->click(IDC_VERSION_DIFF);
    EXPECT_EQ(0, rig.flow->list().CountRows(RC_ITEM_CHECKED));
    EXPECT_EQ("没有发现需要升级的设备", rig.ui.boxes.back().text);
    rig.flow->click(IDC_SELECT_ALL);
    EXPECT_EQ(rig.flow->list().RowCount(), rig.flow->list().CountRows(RC_ITEM_CHECKED));
    EXPECT_FALSE(rig.flow->state().checked(IDC_VERSION_DIFF));
}

// The shared refusal cases, pressed through the engine's own entry point (click), as a window would.
TEST_F(QueryTest, EveryRefusalNamesItsReasonAndChangesNothing) {
    FlowRig rig(site.config);
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_EQ(0, rig.flow->loadPackageFile(package));
    UpgradeFlow& flow = *rig.flow;
    const SiteDevice& device = site.devices[0];
    const refusal_rules::SiteAddresses addresses{site.addressBoxIp, site.phantoms[0], device.ip,
                                                 device.model};
    std::vector<refusal_rules::Refusal> cases = refusal_rules::queryRefusals(addresses);
    for (auto list : {refusal_rules::addRefusals(addresses), refusal_rules::upgradeRefusals(addresses)})
        cases.insert(cases.end(), list.begin(), list.end());
    // A text no address field can hold (the command line's --address-box): refused as malformed.
    cases.push_back({.name = "out of range",
                     .press = refusal_rules::Press::query,
                     .typedIp = "192.0.2.300",
                     .message = "非法地址盒IP"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        flow.click(c.press == refusal_rules::Press::query ? IDC_RADIO_BATCH : IDC_RADIO_SINGLE);
        flow.setAddressBoxIp("");
        flow.click(IDC_CLEAR);
        for (auto& box : flow.state().modelBoxes) box.checked = !c.untickModels;
        if (c.press == refusal_rules::Press::add) {
            flow.setSingleIp(c.typedIp);
        } else {
            flow.setAddressBoxIp(c.typedIp);
        }
        if (c.listDevice) {
            flow.setSingleIp(device.ip);
            flow.click(IDC_ADD);
            ASSERT_EQ(1, flow.list().RowCount());
        }
        if (c.untickRows) flow.list().SetCheck(0, false);
        if (c.clearList) flow.click(IDC_CLEAR);
        const int rows = flow.list().RowCount();
        const size_t mark = rig.ui.boxes.size();
        flow.click(c.press == refusal_rules::Press::query ? IDC_QUERY
                   : c.press == refusal_rules::Press::add ? IDC_ADD
                                                          : IDC_UPGRADE);
        auto error = rig.ui.errorSince(mark);
        ASSERT_TRUE(error.has_value()) << c.message;
        EXPECT_EQ(c.message, error->text);
        EXPECT_EQ("错误提示", error->title);
        EXPECT_EQ(c.press == refusal_rules::Press::query ? 0 : rows, flow.list().RowCount());
        EXPECT_FALSE(flow.isUpgrading());
        EXPECT_EQ("升级", flow.state().text(IDC_UPGRADE));
    }
}

// An address box whose own answer lacks its serial number cannot be told for one: the query is
// refused with the reason, and the box is never asked for its list.
TEST_F(QueryTest, AnAddressBoxAnswerWithoutSerialNumberIsARefusalWithItsReason) {
    site.config.addressBox->device.faults.noSerialNum = true;
    FlowRig rig(site.config);
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_EQ(0, rig.flow->loadPackageFile(package));
    rig.flow->setAddressBoxIp(site.addressBoxIp);
    const size_t mark = rig.ui.boxes.size();
    EXPECT_NE(0, rig.flow->queryDevices({false}));
    auto error = rig.ui.errorSince(mark);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ("不能从指定的地址盒IP获得系统信息，或许它的软件版本太老！", error->text);
    EXPECT_EQ(0, rig.flow->list().RowCount());
    EXPECT_EQ(0, rig.site->record().countReceived(site.addressBoxIp, "GetModelIPList"));
}

TEST_F(QueryTest, AddressBoxPackageListsTheAddressBoxItself) {
    std::string boxPackage = writePackage(folder.path(), "地址盒升级包-1.8.2.quenta", "QN-AB100", "1.8.2");
    std::string serverPackage =
        writePackage(folder.path(), "管理服务器升级包-1.8.3.quenta", "QN-AB100", "1.8.3");
    for (const auto& path : {boxPackage, serverPackage}) {
        FlowRig rig(site.config);
        ASSERT_TRUE(rig.ok) << rig.error;
        ASSERT_TRUE(rig.query(path, site.addressBoxIp));
        ASSERT_GE(rig.rowOf(site.addressBoxIp), 0) << path;
        EXPECT_EQ("已连接", rig.status(site.addressBoxIp));
        EXPECT_EQ("1.8.0", rig.cell(site.addressBoxIp, DEVICE_COLUMN_SOFT_VERSION));
        EXPECT_TRUE(rig.checked(site.addressBoxIp));
        // No connection test for these kinds; the address box is asked off the window's thread.
        EXPECT_EQ(std::vector<std::string>(2, flowtext::kProgressAddressBox), rig.ui.progressBoxes);
    }
}

TEST_F(QueryTest, MultimediaControlBoxPackageJudgesPlatformAndShowsIt) {
    SimConfig config = site.config;
    SimDeviceConfig a20 = config.devices[0], s5p = config.devices[1];
    a20.model = s5p.model = "QN-MB10";
    a20.platform = "A20";
    s5p.platform = "S5P4418";
    config.devices = {a20, s5p};
    std::string mm = writePackage(folder.path(), "A20多媒体控制盒升级包-3.1.0.quenta", "QN-MB10", "3.1.0");
    FlowRig rig(config);
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_TRUE(rig.query(mm, site.addressBoxIp));
    EXPECT_EQ("已连接", rig.status(a20.ip));
    EXPECT_EQ("QN-MB10(A20)", rig.cell(a20.ip, DEVICE_COLUMN_MODEL));
    EXPECT_EQ("平台不匹配", rig.status(s5p.ip));
    EXPECT_FALSE(rig.checked(s5p.ip));
    EXPECT_TRUE(rig.flow->list().IsRowCheckLocked(rig.rowOf(s5p.ip)));
}

TEST_F(QueryTest, MultimediaFilePackageRefusesBatchMode) {
    std::string mm = writePackage(folder.path(), "多媒体文件包-1.0.1.quenta", "QN-H200", "1.0.1");
    FlowRig rig(site.config);
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_EQ(0, rig.flow->loadPackageFile(mm));
    ASSERT_FALSE(rig.ui.boxes.empty());
    EXPECT_EQ("多媒体文件包不支持批量升级，只能指定IP升级", rig.ui.boxes.back().text);
    EXPECT_EQ("提示", rig.ui.boxes.back().title);
    DialogState& state = rig.flow->state();
    EXPECT_FALSE(state.enabled(IDC_RADIO_BATCH));
    EXPECT_FALSE(state.enabled(IDC_QUERY));
    EXPECT_TRUE(state.checked(IDC_RADIO_SINGLE));
    EXPECT_TRUE(state.enabled(IDC_ADD));
    ASSERT_EQ(1u, state.modelBoxes.size());
    EXPECT_EQ("ALL", state.modelBoxes[0].utf8Label);
    rig.flow->setAddressBoxIp(site.addressBoxIp);
    rig.flow->click(IDC_QUERY);  // disabled: nothing happens
    rig.flow->click(IDC_RADIO_BATCH);
    EXPECT_TRUE(rig.ui.progressBoxes.empty());
    EXPECT_FALSE(state.checked(IDC_RADIO_BATCH));
}

// A site whose devices of one model answer late: `late` devices with delays spread evenly from
// `delayMs` to `delayMs` + 600 ms, and `prompt` devices of another model that answer at once.
SimConfig lateSite(const MixedSite& mixed, const std::string& lateModel, int late, int delayMs,
                   const std::string& promptModel, int prompt) {
    SimConfig config;
    config.addressBox = mixed.config.addressBox;
    config.addressBox->phantoms.clear();
    SimDeviceConfig base = mixed.config.devices[0];
    base.softVersion = "2.3.9";
    int next = 1;
    for (int i = 0; i < late + prompt; ++i) {
        SimDeviceConfig c = base;
        c.ip = quenta_test::siteAddress(next++);
        c.serialNum = "QNT2H2" + std::to_string(10000 + i);
        c.model = i < late ? lateModel : promptModel;
        c.faults = SimFaults{};
        if (i < late) c.faults.delayMs = delayMs + (late > 1 ? 600 * i / (late - 1) : 0);
        config.devices.push_back(c);
    }
    return config;
}

// Devices that answer 1.0-1.6 s late, with the failed-device step on: an answer taken after the step
// listed the address as 连接失败 turns that row into the judged row; no address has two rows, every
// connected row is ticked and unlocked, the version prompt counts exactly those rows, and the run
// upgrades every one of them (none is left 已连接 and ticked when "升级完成！" comes).
TEST_F(QueryTest, LateAnswersAfterTheFailedDeviceStepNeverGiveTwoRows) {
    SimConfig config = lateSite(site, "QN-H200", 24, 1000, "QN-S210", 0);
    FlowRig rig(config);
    ASSERT_TRUE(rig.ok) << rig.error;
    // A busy window thread: while the failed-device step has read its first unanswered record and
    // waits to insert its row, that device's late answer comes in and is handled.
    bool paused = false;
    rig.ui.whileProgress = [&paused](const std::string& line1) {
        if (paused || line1 != "正在处理连接失败的设备，请稍后...") return;
        paused = true;
        ss_platform_sleepMs(800);
    };
    ASSERT_TRUE(rig.query(package, site.addressBoxIp, {"QN-H200"}, true));
    DeviceList& list = rig.flow->list();
    std::set<std::string> seen;
    int connected = 0;
    for (int row = 0; row < list.RowCount(); ++row) {
        const std::string ip = list.GetItemText(row, DEVICE_COLUMN_IP);
        EXPECT_TRUE(seen.insert(ip).second) << ip << " has two rows";
        const int code = rowStatus(list, row);
        EXPECT_TRUE(code == DEVICE_STATUS_CONNECTED || code == DEVICE_STATUS_CONNECT_FAILED) << ip;
        if (code != DEVICE_STATUS_CONNECTED) continue;
        ++connected;
        EXPECT_FALSE(list.IsRowCheckLocked(row)) << ip;
        EXPECT_TRUE(list.GetCheck(row)) << ip;
        EXPECT_EQ("QN-H200", list.GetItemText(row, DEVICE_COLUMN_MODEL)) << ip;
    }
    EXPECT_EQ(static_cast<int>(config.devices.size()), list.RowCount()) << "one row per listed address";
    ASSERT_GT(connected, 0);
    EXPECT_EQ("共发现" + std::to_string(connected) + "个不同版本的设备可以升级, 现在立即升级吗？",
              rig.ui.boxes.back().text);

    rig.upgradeAndWait();
    // The run's summary counts each upgraded device once.
    EXPECT_EQ(0u, rig.ui.boxes.back().text.find("升级完成！\n成功：" + std::to_string(connected) + " 台\n"))
        << rig.ui.boxes.back().text;
    for (int row = 0; row < list.RowCount(); ++row) {
        const std::string ip = list.GetItemText(row, DEVICE_COLUMN_IP);
        EXPECT_NE(DEVICE_STATUS_CONNECTED, rowStatus(list, row)) << ip << " ticked but never upgraded";
    }
    EXPECT_EQ(connected, rig.flow->rowsWithStatus(DEVICE_STATUS_UPGRADE_DONE));
}

// Answers that arrive after a query ended belong to it: a query of model A whose devices answer late,
// then a query of model B, lists no device of A.
TEST_F(QueryTest, ANewQueryNeverListsLateAnswersOfThePreviousOne) {
    // A's devices answer 2.0-2.6 s after each request: after A's query has ended.
    SimConfig config = lateSite(site, "QN-H200", 8, 2000, "QN-S210", 4);
    FlowRig rig(config);
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_TRUE(rig.query(package, site.addressBoxIp, {"QN-H200"}));
    // Every late answer of A (both tries) has left the site before B starts.
    auto answersOut = [&] {
        SimRecord record = rig.site->record();
        for (int i = 0; i < 8; ++i) {
            const std::string& ip = config.devices[i].ip;
            if (record.countSent(ip, QNACTION_GET_SYSTEM_INFO_OK) <
                record.countReceived(ip, QNACTION_GET_SYSTEM_INFO))
                return false;
        }
        return true;
    };
    rig.ui.serveUntil([&] { return answersOut(); });
    rig.ui.serveUntil(
        [start = ss_platform_monotonicMs()] { return ss_platform_monotonicMs() - start > 200; });

    for (auto& box : rig.flow->state().modelBoxes) box.checked = box.utf8Label == "QN-S210";
    size_t mark = rig.ui.boxes.size();
    rig.flow->OnBnClickedButtonQuery();
    ASSERT_FALSE(rig.ui.errorSince(mark));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(-1, rig.rowOf(config.devices[i].ip)) << config.devices[i].ip;
    for (int i = 8; i < 12; ++i) EXPECT_EQ("已连接", rig.status(config.devices[i].ip));
    EXPECT_EQ(4, rig.flow->list().RowCount());
}

}  // namespace

// Prompt devices are asked once: the handler takes an answer as soon as it is queued (not after a
// pause of up to 500 ms), so a full pass of the connect thread finds answered addresses marked. Only
// the last few addresses may be asked again by the pass that follows the first one at once.
TEST_F(QueryTest, AnsweredDevicesAreAskedOnlyOnce) {
    SimConfig config = lateSite(site, "QN-H200", 0, 0, "QN-S210", 60);
    FlowRig rig(config);
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_TRUE(rig.query(package, site.addressBoxIp, {"QN-S210"}));
    EXPECT_EQ(60, rig.flow->list().RowCount());
    const SimRecord record = rig.site->record();
    std::vector<std::string> askedTwice;
    for (const auto& device : config.devices) {
        const int asks = record.countReceived(device.ip, QNACTION_GET_SYSTEM_INFO);
        EXPECT_GE(asks, 1) << device.ip;
        if (asks > 1) askedTwice.push_back(device.ip);
    }
    EXPECT_LE(askedTwice.size(), 3u) << "first asked again: " << (askedTwice.empty() ? "" : askedTwice[0]);
}
