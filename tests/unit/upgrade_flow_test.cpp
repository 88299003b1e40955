// The batch flow without a network: UpdateIPList's judgement and columns against loaded packages,
// the version rule and its prompt, the enabling table, package loads that fail, job rows found by
// owner key after a re-sort, and upgrade refusals.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "engine/headless_ui.h"
#include "engine/list_menu.h"
#include "engine/model_box_layout.h"
#include "engine/quenta_upgrade_server.h"
#include "engine/upgrade_flow.h"
#include "engine/upgrade_report.h"
#include "ss/ss_platform.h"
#include "ss/ss_thread.h"
#include "tests/support/engine_site.h"
#include "tests/support/temp_dir.h"

namespace {

DeviceInfo device(const std::string& ip, const std::string& model, const std::string& platform = "hi3516a",
                  const std::string& version = "2.3.9") {
    DeviceInfo info;
    info.ip = ip;
    info.model = model;
    info.platform = platform;
    info.softVersion = version;
    info.hardVersion = "HW-1.0";
    info.kernelVersion = "3.10.108";
    info.serialNum = "QNT2H2" + ip.substr(ip.rfind('.') + 1);
    info.uploadPath = "C:\\Work/quenta/upload/QN_UPGRADE/" + ip;
    info.master = 2;
    info.slave = 0;
    info.tcpSupport = 1;
    return info;
}

class FlowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        flow.reset(new UpgradeFlow(ui));
        ui.attach(flow.get());
        ASSERT_TRUE(flow->OnInitDialog());
    }
    void TearDown() override { flow->OnDestroy(); }
    std::string package(const std::string& name, const std::string& models, const std::string& version) {
        return engine_test::writePackage(folder.path(), name, models, version);
    }
    DeviceList& list() { return flow->list(); }
    int row(const std::string& ip) {
        for (int r = 0; r < list().RowCount(); ++r)
            if (list().GetItemText(r, DEVICE_COLUMN_IP) == ip) return r;
        return -1;
    }

    quenta_test::ScopedDriveRoot drive;
    quenta_test::TempDir folder{"flow-"};
    HeadlessUi ui;
    std::unique_ptr<UpgradeFlow> flow;
};

TEST_F(FlowTest, InitialControlsFollowTheEnablingTable) {
    DialogState& s = flow->state();
    for (int id : {IDC_QUERY, IDC_SINGLE_IP, IDC_ADD, IDC_SELECT_ALL, IDC_VERSION_DIFF, IDC_SHOW_FAILED,
                   IDC_RADIO_BATCH, IDC_RADIO_SINGLE, IDC_UPGRADE})
        EXPECT_FALSE(s.enabled(id)) << id;
    for (int id : {IDC_BROWSE, IDC_EXIT, IDC_CLEAR}) EXPECT_TRUE(s.enabled(id)) << id;
    EXPECT_FALSE(s.checked(IDC_RADIO_BATCH));
    EXPECT_FALSE(s.checked(IDC_RADIO_SINGLE));
    EXPECT_EQ(11, list().ColumnCount());
    EXPECT_EQ("选择", list().Column(0)->heading);
    // The table names each control once.
    std::set<int> named;
    for (const auto& rowOfTable : enablingTable()) EXPECT_TRUE(named.insert(rowOfTable.controlId).second);
}

// What a run leaves behind is the mode's state again, plus " 获取设备列表" (on even in single-IP mode)
// and "浏览"; a multimedia file package keeps "批量升级" off through it all.
TEST(EnablingTable, ARunGivesBackTheModesControls) {
    for (EnablingStep mode : {EnablingStep::batchMode, EnablingStep::singleMode, EnablingStep::singleOnly}) {
        DialogState s;
        s.applyEnabling(EnablingStep::afterInit);
        s.applyEnabling(mode);
        std::map<int, bool> before;
        for (const auto& row : enablingTable()) before[row.controlId] = s.enabled(row.controlId);
        for (EnablingStep step : {EnablingStep::pressed, EnablingStep::running}) s.applyEnabling(step);
        for (int id : {IDC_EXIT, IDC_QUERY, IDC_CLEAR, IDC_BROWSE, IDC_ADDRESS_BOX_IP, IDC_SINGLE_IP, IDC_ADD,
                       IDC_RADIO_BATCH, IDC_RADIO_SINGLE})
            EXPECT_FALSE(s.enabled(id)) << id << " while running";
        EXPECT_TRUE(s.enabled(IDC_UPGRADE)) << "\"取消\"";
        for (EnablingStep step : {EnablingStep::pressed, EnablingStep::cancelling}) s.applyEnabling(step);
        EXPECT_FALSE(s.enabled(IDC_UPGRADE)) << "off until the run has ended";
        s.applyEnabling(EnablingStep::cancelled);
        EXPECT_TRUE(s.enabled(IDC_EXIT));
        EXPECT_FALSE(s.enabled(IDC_QUERY)) << "clears the list: only after the end";
        s.applyEnabling(mode);
        s.applyEnabling(EnablingStep::runEnded);
        for (const auto& [id, enabled] : before) {
            if (id == IDC_QUERY || id == IDC_UPGRADE) continue;
            EXPECT_EQ(enabled, s.enabled(id)) << id;
        }
        EXPECT_TRUE(s.enabled(IDC_QUERY));
        EXPECT_TRUE(s.enabled(IDC_UPGRADE));
        EXPECT_EQ(mode != EnablingStep::singleOnly, s.enabled(IDC_RADIO_BATCH));
    }
}

TEST_F(FlowTest, LoadSetsModeLabelAndModelBoxes) {
    ASSERT_EQ(0, flow->loadPackageFile(package("QN通用升级包-2.4.1.quenta", "QN-H200,QN-S210", "2.4.1")));
    DialogState& s = flow->state();
    EXPECT_EQ("该升级包版本为2.4.1，适合于以下产品", s.text(IDC_PACKAGE_LABEL));
    EXPECT_TRUE(s.checked(IDC_RADIO_BATCH));
    for (int id :
         {IDC_QUERY, IDC_SELECT_ALL, IDC_VERSION_DIFF, IDC_SHOW_FAILED, IDC_RADIO_BATCH, IDC_RADIO_SINGLE})
        EXPECT_TRUE(s.enabled(id)) << id;
    EXPECT_FALSE(s.enabled(IDC_ADD));
    EXPECT_FALSE(s.enabled(IDC_UPGRADE)) << "unchanged by the load";
    ASSERT_EQ(2u, s.modelBoxes.size());
    EXPECT_EQ(4368, s.modelBoxes[0].id);
    EXPECT_EQ(4369, s.modelBoxes[1].id);
    EXPECT_EQ(layoutModelBoxes(2)[1].x, s.modelBoxes[1].x);  // laid out inside group box 1035
    EXPECT_EQ(layoutModelBoxes(2)[1].width, s.modelBoxes[1].width);
    flow->click(IDC_MODELS_ALL);
    EXPECT_FALSE(s.modelBoxes[0].checked);
    flow->click(4369);
    EXPECT_TRUE(s.modelBoxes[1].checked);

    // A single model: one disabled, ticked box; " 全选" does nothing.
    ASSERT_EQ(0, flow->loadPackageFile(package("QN通用升级包-2.4.2.quenta", "QN-H200", "2.4.2")));
    ASSERT_EQ(1u, s.modelBoxes.size());
    EXPECT_FALSE(s.modelBoxes[0].enabled);
    flow->click(IDC_MODELS_ALL);
    flow->click(4368);
    EXPECT_TRUE(s.modelBoxes[0].checked);
}

TEST_F(FlowTest, UpdateIPListJudgesModelAndPlatformAndFillsColumns) {
    ASSERT_EQ(0, flow->loadPackageFile(
                     package("3516E_Linux数字分机和5路10路主机升级包-2.4.1.quenta", "X10,X1", "2.4.1")));
    flow->UpdateIPList(device("192.0.2.10", "X1", "hi3516ev300"), false);
    flow->UpdateIPList(device("192.0.2.11", "X", "hi3516ev300"), false);
    flow->UpdateIPList(device("192.0.2.12", "X10", "hi3516a"), false);
    DeviceInfo incomplete = device("192.0.2.13", "X1");
    incomplete.kernelVersion.reset();
    flow->UpdateIPList(incomplete, false);
    ASSERT_EQ(3, list().RowCount());
    EXPECT_EQ("已连接", list().GetItemText(0, 1));
    EXPECT_TRUE(list().GetCheck(0));
    EXPECT_EQ("非法型号", list().GetItemText(1, 1));
    EXPECT_TRUE(list().IsRowCheckLocked(1));
    EXPECT_FALSE(list().GetCheck(1));
    EXPECT_EQ(0x0000FF, list().GetCellTextColor(1, 3));
    EXPECT_EQ("平台不匹配", list().GetItemText(2, 1));
    EXPECT_TRUE(list().IsRowCheckLocked(2));
    EXPECT_EQ("2", list().GetItemText(0, DEVICE_COLUMN_MASTER));
    EXPECT_EQ("0", list().GetItemText(0, DEVICE_COLUMN_SLAVE));
    EXPECT_EQ("TCP", list().GetItemText(0, DEVICE_COLUMN_PROTOCOL));
    // The shared upload path is the first fitting device's, even though X10 did not fit the platform.
    EXPECT_EQ("C:\\Work/quenta/upload/QN_UPGRADE/192.0.2.10", flow->sharedUploadPath());

    // An address already listed has its row rewritten in place.
    DeviceInfo again = device("192.0.2.10", "X1", "hi3516ev300", "2.4.1");
    again.master = 0;
    again.slave = -1;
    again.tcpSupport = 0;
    flow->UpdateIPList(again, true);
    ASSERT_EQ(3, list().RowCount());
    EXPECT_EQ("N/A", list().GetItemText(0, DEVICE_COLUMN_MASTER));
    EXPECT_EQ("N/A", list().GetItemText(0, DEVICE_COLUMN_SLAVE));
    EXPECT_EQ("UDP", list().GetItemText(0, DEVICE_COLUMN_PROTOCOL));
    EXPECT_EQ("2.4.1", list().GetItemText(0, DEVICE_COLUMN_SOFT_VERSION));
}

// A device that answered without the keys a row needs gets no row, not even with the failed-device
// step; the report names it with its reason. An export that succeeds says where the report went.
TEST_F(FlowTest, AnIncompleteAnswerIsNamedOnlyByTheReportAndAnExportSaysWhere) {
    ASSERT_EQ(0, flow->loadPackageFile(package("QN通用升级包-2.4.1.quenta", "X1", "2.4.1")));
    flow->UpdateIPList(device("192.0.2.10", "X1"), false);
    DeviceInfo incomplete = device("192.0.2.13", "X1");
    incomplete.serialNum.reset();
    flow->UpdateIPList(incomplete, false);
    ASSERT_EQ(1, list().RowCount());
    ASSERT_EQ(-1, row("192.0.2.13"));

    const std::string path = folder.file("报告.csv");
    ui.nextSaveFile = path;
    ASSERT_EQ(0, flow->exportReport());
    EXPECT_EQ("报告已保存：" + path, ui.boxes.back().text);
    EXPECT_EQ(BoxIcon::information, ui.boxes.back().icon);
    const RunReport report = flow->buildReport();
    ASSERT_EQ(2u, report.devices.size());
    EXPECT_EQ("192.0.2.13", report.devices[1].ip);
    EXPECT_EQ("X1", report.devices[1].model);
    EXPECT_EQ("missing_keys", report.devices[1].reason);
    EXPECT_EQ("设备的回复缺少必需的信息", report.devices[1].reasonText);

    // A later full answer gives it its row, and the report names it once.
    flow->UpdateIPList(device("192.0.2.13", "X1"), false);
    EXPECT_EQ(2u, flow->buildReport().devices.size());
    EXPECT_EQ("已连接", list().GetItemText(row("192.0.2.13"), 1));
}

// The report never replaces the package, however its path is spelt; the window's export says why.
TEST_F(FlowTest, AReportIsNeverWrittenOverThePackage) {
    const std::string name = "QN通用升级包-2.4.1.quenta";
    const std::string path = package(name, "X1", "2.4.1");
    ASSERT_EQ(0, flow->loadPackageFile(path));
    const std::string content = quenta_test::readWholeFile(path);
    ASSERT_FALSE(content.empty());
    const std::string& dir = folder.path();
    const std::string dirName = dir.substr(dir.find_last_of("/\\") + 1);
    for (const std::string& spelling :
         {path, dir + "/./" + name, dir + "//" + name, dir + "/../" + dirName + "/" + name}) {
        std::string error;
        EXPECT_EQ(-1, flow->writeReport(spelling, error)) << spelling;
        EXPECT_EQ("报告不能写到升级包上：" + spelling, error);
        EXPECT_EQ(content, quenta_test::readWholeFile(path)) << spelling;
    }
    ui.nextSaveFile = dir + "/./" + name;
    EXPECT_EQ(-1, flow->exportReport());
    EXPECT_EQ("报告不能写到升级包上：" + dir + "/./" + name, ui.boxes.back().text);
    EXPECT_EQ(content, quenta_test::readWholeFile(path));
    // Another file beside it is written.
    std::string error;
    EXPECT_EQ(0, flow->writeReport(dir + "/./r.csv", error)) << error;
}

TEST_F(FlowTest, MultimediaControlBoxShowsModelWithPlatform) {
    ASSERT_EQ(0, flow->loadPackageFile(package("多媒体控制盒升级包-3.1.0.quenta", "ALL", "3.1.0")));
    flow->UpdateIPList(device("192.0.2.10", "MB", "S5P4418"), false);
    flow->UpdateIPList(device("192.0.2.11", "MB", "A20"), false);
    EXPECT_EQ("MB(S5P4418)", list().GetItemText(0, DEVICE_COLUMN_MODEL));
    EXPECT_EQ("已连接", list().GetItemText(0, 1));
    EXPECT_EQ("平台不匹配", list().GetItemText(1, 1));
}

TEST_F(FlowTest, VersionRuleTicksOnlyConnectedRowsWithAnotherVersion) {
    ASSERT_EQ(0, flow->loadPackageFile(package("QN通用升级包-2.4.1.quenta", "QN-H200", "2.4.1")));
    flow->UpdateIPList(device("192.0.2.10", "QN-H200", "hi3516a", "2.4.1"), false);
    flow->UpdateIPList(device("192.0.2.11", "QN-H200", "hi3516a", "2.4.0"), false);
    flow->UpdateIPList(device("192.0.2.12", "QN-X", "hi3516a", "2.4.0"), false);
    flow->UpdateIPList(device("192.0.2.13", "QN-H200", "hi3516a", "2.4.1a"), false);
    flow->state().setChecked(IDC_VERSION_DIFF, true);
    flow->OnBnClickedCheckVersionDiff();
    EXPECT_FALSE(list().GetCheck(0));
    EXPECT_TRUE(list().GetCheck(1));
    EXPECT_FALSE(list().GetCheck(2));
    EXPECT_TRUE(list().GetCheck(3));
    EXPECT_EQ("共发现2个不同版本的设备可以升级, 现在立即升级吗？", ui.boxes.back().text);
    EXPECT_EQ(BoxButtons::yesNo, ui.boxes.back().buttons);
}

// Picking a file that is not a package keeps the package, its model boxes and the list.
TEST_F(FlowTest, AFileThatIsNotAPackageKeepsTheLoadedOne) {
    const std::string good = package("QN通用升级包-2.4.1.quenta", "QN-H200,QN-S210", "2.4.1");
    ASSERT_EQ(0, flow->loadPackageFile(good));
    flow->UpdateIPList(device("192.0.2.10", "QN-H200"), false);
    const LoadedPackage* loaded = flow->package();
    const std::string label = flow->state().text(IDC_PACKAGE_LABEL);
    // A package whose name has no version: refused at step 8.
    std::string noVersion = package("QN通用升级包.quenta", "QN-X", "");
    ASSERT_NE(0, flow->loadPackageFile(noVersion));
    EXPECT_EQ("不能获得版本信息!", ui.boxes.back().text);
    EXPECT_EQ(loaded, flow->package());
    EXPECT_EQ(good, flow->state().text(IDC_PATH_BOX));
    EXPECT_EQ(label, flow->state().text(IDC_PACKAGE_LABEL));
    EXPECT_EQ(2u, flow->state().modelBoxes.size());
    EXPECT_EQ(1, list().RowCount());
    flow->UpdateIPList(device("192.0.2.11", "QN-H200"), false);
    EXPECT_EQ("已连接", list().GetItemText(row("192.0.2.11"), DEVICE_COLUMN_STATUS))
        << "judged against the kept one";
}

// The refusals no window can reach (an address text of the wrong length, "升级" without a package);
// the others are the shared cases of tests/support/refusal_rules, run through every front end.
TEST_F(FlowTest, UpgradeRefusalsOnlyTheEngineMeets) {
    struct Case {
        std::string addressBox;
        bool load, rows, tick;
        std::string message;
    } cases[] = {
        {"1.2.3", true, true, true, "非法地址盒IP"},
        {"192.0.2.2", false, false, false, "请先选择升级文件"},
    };
    int n = 0;
    for (const auto& c : cases) {
        UpgradeFlow other(ui);
        ui.attach(&other);
        ASSERT_TRUE(other.OnInitDialog());
        if (c.load) {
            ASSERT_EQ(0, other.loadPackageFile(
                             package("QN通用升级包-1." + std::to_string(n++) + ".quenta", "QN-H200", "1")));
        }
        if (c.rows) other.UpdateIPList(device("192.0.2.10", "QN-H200"), false);
        if (c.rows && !c.tick) {
            other.list().SetCheck(0, false);
        }
        other.state().addressBoxIp = c.addressBox;
        size_t mark = ui.boxes.size();
        other.OnBnClickedOk();
        ASSERT_TRUE(ui.errorSince(mark)) << c.message;
        EXPECT_EQ(c.message, ui.errorSince(mark)->text);
        EXPECT_FALSE(other.isUpgrading());
        EXPECT_EQ("升级", other.state().text(IDC_UPGRADE));
        other.OnDestroy();
    }
    ui.attach(flow.get());
}

TEST_F(FlowTest, JobRowsAreFoundByOwnerKeyAfterAResort) {
    ASSERT_EQ(0, flow->loadPackageFile(package("QN通用升级包-2.4.1.quenta", "QN-H200", "2.4.1")));
    for (const char* ip : {"192.0.2.10", "192.0.2.11", "192.0.2.12"})
        flow->UpdateIPList(device(ip, "QN-H200"), false);
    const uint32_t key = list().GetOwnerKey(0);    // 192.0.2.10 at row 0
    list().SortByColumn(DEVICE_COLUMN_IP, false);  // now at row 2
    ASSERT_EQ(2, row("192.0.2.10"));
    flow->OnUploadStart(0, key);
    EXPECT_EQ("正在升级", list().GetItemText(2, 1));
    EXPECT_EQ(1, ui.timersRunning());
    flow->OnUploadFinish(0, key, 0);
    EXPECT_EQ("升级完成", list().GetItemText(2, 1));
    EXPECT_EQ("2.4.1", list().GetItemText(2, DEVICE_COLUMN_SOFT_VERSION));
    EXPECT_EQ("已连接", list().GetItemText(0, 1)) << "the row now at the job's old index is untouched";
    EXPECT_EQ(0, ui.timersRunning());
    // A failed job: 升级失败, old version kept.
    const uint32_t other = list().GetOwnerKey(0);
    flow->OnUploadStart(2, other);
    flow->OnUploadFinish(2, other, -1);
    EXPECT_EQ("升级失败", list().GetItemText(0, 1));
    EXPECT_EQ("2.3.9", list().GetItemText(0, DEVICE_COLUMN_SOFT_VERSION));
    EXPECT_FALSE(list().GetCheck(0));
}

// A device that answers after the failed-device step listed it: its 连接失败 row becomes the judged
// row in place (unlocked, ticked as a connected row), never a second row for the same address.
TEST_F(FlowTest, LateAnswerTurnsTheFailedRowIntoTheJudgedRow) {
    ASSERT_EQ(0, flow->loadPackageFile(package("QN通用升级包-2.4.1.quenta", "QN-H200", "2.4.1")));
    QuentaUpgradeServer* server = flow->server();
    for (const char* ip : {"192.0.2.10", "192.0.2.11", "192.0.2.12"}) addIpRecord(server, ip);
    ASSERT_EQ(0, flow->listUnansweredDevices());
    ASSERT_EQ(3, list().RowCount());
    for (int r = 0; r < 3; ++r) EXPECT_TRUE(list().IsRowCheckLocked(r));

    ASSERT_EQ(0, markIpAnswered(server, "192.0.2.11"));
    flow->UpdateIPList(device("192.0.2.11", "QN-H200"), false);
    ASSERT_EQ(3, list().RowCount()) << "one address, one row";
    const int judged = row("192.0.2.11");
    EXPECT_EQ("已连接", list().GetItemText(judged, DEVICE_COLUMN_STATUS));
    EXPECT_FALSE(list().IsRowCheckLocked(judged));
    EXPECT_TRUE(list().GetCheck(judged));
    EXPECT_EQ("QN-H200", list().GetItemText(judged, DEVICE_COLUMN_MODEL));
    // A late device of a model the package does not fit stays locked, now as 非法型号.
    flow->UpdateIPList(device("192.0.2.12", "QN-X999"), false);
    EXPECT_EQ(3, list().RowCount());
    EXPECT_EQ("非法型号", list().GetItemText(row("192.0.2.12"), DEVICE_COLUMN_STATUS));
    EXPECT_TRUE(list().IsRowCheckLocked(row("192.0.2.12")));

    // The version rule counts the row and the upgrade takes it: the ticked row is the one queued.
    flow->state().setChecked(IDC_VERSION_DIFF, true);
    flow->OnBnClickedCheckVersionDiff();
    EXPECT_EQ("共发现1个不同版本的设备可以升级, 现在立即升级吗？", ui.boxes.back().text);
    flow->upgrading = 1;
    UploadJobTarget target;
    EXPECT_TRUE(flow->takeRowForUpgrade(judged, list().GetOwnerKey(judged), target));
    EXPECT_EQ("192.0.2.11", target.narrowIp);
    EXPECT_EQ("等待升级", list().GetItemText(judged, DEVICE_COLUMN_STATUS));
    flow->upgrading = 0;

    // The failed-device step run again (or its walk meeting a record that was answered meanwhile)
    // adds no row for an address that already has one.
    flow->state().setChecked(IDC_SHOW_FAILED, false);
    flow->OnBnClickedCheckShowFailed();
    ASSERT_EQ(2, list().RowCount());
    ASSERT_EQ(0, flow->listUnansweredDevices());
    EXPECT_EQ(3, list().RowCount());
    int rowsFor11 = 0;
    for (int r = 0; r < list().RowCount(); ++r)
        if (list().GetItemText(r, DEVICE_COLUMN_IP) == "192.0.2.11") ++rowsFor11;
    EXPECT_EQ(1, rowsFor11);
}

// The address box listed by the query itself (address box packages) and answering the connect thread
// as well keeps one row.
TEST_F(FlowTest, AnAddressListedTwiceKeepsOneRow) {
    ASSERT_EQ(0, flow->loadPackageFile(package("地址盒升级包-1.8.2.quenta", "QN-AB100", "1.8.2")));
    flow->UpdateIPList(device("192.0.2.2", "QN-AB100"), true);
    flow->UpdateIPList(device("192.0.2.2", "QN-AB100", "hi3516a", "1.8.0"), false);
    ASSERT_EQ(1, list().RowCount());
    EXPECT_EQ("1.8.0", list().GetItemText(0, DEVICE_COLUMN_SOFT_VERSION));
    EXPECT_EQ("已连接", list().GetItemText(0, DEVICE_COLUMN_STATUS));
}

// Upload timers are named by the row's owner key: a tick finds its row wherever sorting moved it,
// and a row index is never taken for a timer id.
TEST_F(FlowTest, UploadTimersAreIdentifiedByOwnerKey) {
    ASSERT_EQ(0, flow->loadPackageFile(package("QN通用升级包-2.4.1.quenta", "QN-H200", "2.4.1")));
    for (const char* ip : {"192.0.2.10", "192.0.2.11"}) flow->UpdateIPList(device(ip, "QN-H200"), false);
    const uint32_t key = list().GetOwnerKey(0);
    flow->OnUploadStart(0, key);
    EXPECT_EQ(1, ui.timersRunning());
    list().SortByColumn(DEVICE_COLUMN_IP, false);
    flow->OnTimer(key);  // no transfer in a slot: nothing changes, and nothing breaks
    EXPECT_EQ("正在升级", list().GetItemText(row("192.0.2.10"), DEVICE_COLUMN_STATUS));
    flow->OnTimer(0);  // an index is never a timer id
    flow->OnTimer(1);
    EXPECT_EQ("已连接", list().GetItemText(row("192.0.2.11"), DEVICE_COLUMN_STATUS));
    flow->OnUploadFinish(0, key, 0);
    EXPECT_EQ(0, ui.timersRunning());
    EXPECT_EQ("升级完成", list().GetItemText(row("192.0.2.10"), DEVICE_COLUMN_STATUS));
}

// A run played through the engine's reports (no network): rows taken, started and finished with the
// given outcomes, then the run's end.
void playRun(UpgradeFlow& flow, const std::vector<std::pair<std::string, UploadOutcome>>& jobs, int result) {
    DeviceList& list = flow.list();
    flow.upgrading = 1;
    for (const auto& [ip, outcome] : jobs) {
        for (int r = 0; r < list.RowCount(); ++r) {
            if (list.GetItemText(r, DEVICE_COLUMN_IP) != ip) continue;
            UploadJobTarget target;
            ASSERT_TRUE(flow.takeRowForUpgrade(r, list.GetOwnerKey(r), target)) << ip;
            flow.OnUploadStart(target.row, target.ownerKey);
            flow.OnUploadFinish(target.row, target.ownerKey, result, outcome);
        }
    }
    flow.upgrading = 0;
    flow.OnUpgradingEnd();
}

UploadOutcome failedWith(FailureReason reason) {
    UploadOutcome outcome;
    outcome.reason.reason = reason;
    return outcome;
}

// Every run saves its own report where the end box says; the report names the silent addresses of
// the query too; an address box IP edit that would clear a run's results asks first.
TEST_F(FlowTest, ARunSavesItsReportAndItsResultsAreNotClearedUnasked) {
    ASSERT_EQ(0, flow->loadPackageFile(package("QN通用升级包-2.4.1.quenta", "QN-H200", "2.4.1")));
    flow->setAddressBoxIp("192.0.2.2");
    for (const char* ip : {"192.0.2.10", "192.0.2.11"}) flow->UpdateIPList(device(ip, "QN-H200"), false);
    addIpRecord(flow->server(), "192.0.2.10");
    addIpRecord(flow->server(), "192.0.2.11");
    addIpRecord(flow->server(), "192.0.2.12");  // named, never answered, no row
    ASSERT_EQ(0, markIpAnswered(flow->server(), "192.0.2.10"));
    ASSERT_EQ(0, markIpAnswered(flow->server(), "192.0.2.11"));
    playRun(*flow, {{"192.0.2.10", failedWith(FailureReason::tcpNotSupported)}}, -1);
    const std::string summary = ui.boxes.back().text;
    EXPECT_NE(std::string::npos, summary.find("1 台失败的设备需要现场处理。")) << summary;
    EXPECT_EQ(std::string::npos, summary.find("再次升级")) << "nothing worth retrying";
    ASSERT_FALSE(flow->lastReportPath().empty()) << flow->lastReportError();
    EXPECT_NE(std::string::npos, summary.find("报告已保存：" + flow->lastReportPath()));
    EXPECT_EQ(0u, flow->lastReportPath().find(drive.path() + "/C/Work/quenta/reports/192.0.2.2_"))
        << flow->lastReportPath() << " " << drive.path();
    const std::string own = quenta_test::readWholeFile(flow->lastReportPath());
    EXPECT_NE(std::string::npos,
              own.find("\r\n192.0.2.12,,,,,,,连接失败,never_answered,设备从未应答,retry,可重试,"));
    EXPECT_NE(std::string::npos, own.find(",tcp_not_supported,设备不支持TCP上传,on_site,需现场处理,"));
    EXPECT_NE(std::string::npos, own.find("\r\n已连接,1\r\n连接失败,1\r\n升级失败,1\r\n合计,3\r\n"));
    // Only a failure that needs a person on site: "重试失败的设备" has nothing to take; the row can
    // still be retried when the operator selects it.
    EXPECT_FALSE(flow->canRetry());
    EXPECT_FALSE(flow->canRetrySelected());
    list().SetSelected(row("192.0.2.10"), true);
    EXPECT_TRUE(flow->canRetrySelected());
    const std::vector<ListMenuEntry> menu = listMenuEntries(*flow);
    ASSERT_GE(menu.size(), 2u);
    EXPECT_STREQ("重试选中的设备", menu[1].utf8Text);
    EXPECT_TRUE(menu[1].enabled);
    EXPECT_FALSE(menu[0].enabled);

    // The address box IP edited: "否" keeps the list and the field, "是" clears the list.
    ui.answer = [](const ShownBox& box) { return box.buttons == BoxButtons::yesNo ? IDNO : IDOK; };
    flow->setAddressBoxIp("192.0.2.3");
    EXPECT_EQ("设备列表中有升级结果，确定清空吗？", ui.boxes.back().text);
    EXPECT_EQ("192.0.2.2", flow->state().addressBoxIp);
    EXPECT_EQ(2, list().RowCount());
    ui.answer = [](const ShownBox& box) { return box.buttons == BoxButtons::yesNo ? IDYES : IDOK; };
    flow->setAddressBoxIp("192.0.2.3");
    EXPECT_EQ("192.0.2.3", flow->state().addressBoxIp);
    EXPECT_EQ(0, list().RowCount());
    // An empty list (or one without results) changes without a question.
    const size_t boxes = ui.boxes.size();
    flow->setAddressBoxIp("192.0.2.4");
    EXPECT_EQ(boxes, ui.boxes.size());
}

}  // namespace

// A stopped query's dispatcher ends within a step of its receive wait: the window thread joins it
// after every query. With a receive wait of ten minutes, a dispatcher that looked at `running` only
// between receives would keep this join waiting out the whole wait.
TEST_F(FlowTest, StoppedDispatcherEndsWithoutWaitingOutItsReceive) {
    QuentaUpgradeServer* server = flow->server();
    ASSERT_NE(nullptr, server);
    const int wait = server->listener->waitTimeoutMs;
    server->listener->waitTimeoutMs = 600000;
    {
        ss_mutex_guard guard(server->lock.get());
        server->running = 1;
    }
    ss_thread_ptr dispatcher;
    ASSERT_EQ(0, ss_thread_create(dispatcher, _messageDispatcherProc, static_cast<FlowHost*>(flow.get())));
    ss_platform_sleepMs(100);  // into its receive wait (silence: no datagram comes)
    EXPECT_FALSE(ss_thread_finished(dispatcher));
    {
        ss_mutex_guard guard(server->lock.get());
        server->running = 0;
    }
    ss_thread_join(dispatcher);
    server->listener->waitTimeoutMs = wait;
}
