// test-labels: threads
// A verified run in stages against the simulated site: a package bad for one of three models stops
// after the first devices; a model whose devices fail too often is braked within its cap while the
// others finish; a cancel in the first stage; resuming after a stop (升级 again, or --retry).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include <nlohmann/json.hpp>

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "engine/upgrade_report.h"
#include "tests/support/cli_runner.h"
#include "tests/support/engine_site.h"
#include "tests/support/netns.h"
#include "tests/support/temp_dir.h"

QUENTA_TEST_IN_PRIVATE_NAMESPACE(60);

using namespace engine_test;

namespace {

struct Model {
    const char* name;
    const char* platform;
};
constexpr Model kH200{"QN-H200", "hi3516a"}, kS210{"QN-S210", "hi3516ev300"}, kD310{"QN-D310", "hi3516ev300"};

// A site of the three models, `perModel[i]` devices each, grouped by model in list order.
struct StagedSite {
    SimConfig config;
    std::map<std::string, std::vector<std::string>> ips;  // by model, in site order
};

StagedSite stagedSite(int h200, int s210, int d310) {
    StagedSite site;
    int index = 0;
    auto device = [&index](const Model& model) {
        SimDeviceConfig c;
        c.ip = quenta_test::siteAddress(index);
        c.model = model.name;
        c.platform = model.platform;
        c.hardVersion = "HW-1.0";
        c.kernelVersion = "3.10.108";
        c.softVersion = "2.3.9";
        char serial[32];
        std::snprintf(serial, sizeof serial, "QNT2H2%05d", index);
        c.serialNum = serial;
        ++index;
        return c;
    };
    SimAddressBoxConfig box;
    box.device = device(kH200);
    box.device.model = "QN-AB100";
    box.device.serialNum = "QNT0AB10001";
    site.config.addressBox = box;
    for (auto [model, count] : {std::pair{kH200, h200}, {kS210, s210}, {kD310, d310}})
        for (int i = 0; i < count; ++i) {
            site.config.devices.push_back(device(model));
            site.ips[model.name].push_back(site.config.devices.back().ip);
        }
    return site;
}

void badFor(StagedSite& site, const char* model, SimAfterBadPackage after, double share = 1) {
    SimBadPackage bad;
    bad.model = model;
    bad.after = after;
    bad.share = share;
    site.config.badPackages.push_back(bad);
    simAssignBadPackages(site.config);
}

class StagesTest : public ::testing::Test {
  protected:
    quenta_test::ScopedDriveRoot drive;
    quenta_test::TempDir folder{"stages-"};
    std::string package =
        writePackage(folder.path(), "QN通用升级包-2.4.1.quenta", "QN-H200,QN-S210,QN-D310", "2.4.1");
    std::string addressBox = quenta_test::siteAddress(0);

    // A rig in stages with quick verification, queried, every fitting row ticked.
    static std::unique_ptr<FlowRig> queried(const StagedSite& site, const std::string& package,
                                            const std::string& addressBox, int verifyMs = 3000) {
        auto rig = std::make_unique<FlowRig>(site.config, nullptr, true);
        if (!rig->ok) return rig;
        rig->flow->setVerifyTimeoutMs(verifyMs);
        rig->flow->setVerifyTiming(200, 1200);
        EXPECT_TRUE(rig->query(package, addressBox));
        return rig;
    }
    static int uploads(FlowRig& rig, const std::vector<std::string>& ips) {
        const SimRecord record = rig.site->record();
        int n = 0;
        for (const auto& ip : ips) n += record.uploadsTo(ip).empty() ? 0 : 1;
        return n;
    }
    static const ShownBox* boxWith(FlowRig& rig, const std::string& piece) {
        for (const ShownBox& box : rig.ui.boxes)
            if (box.text.find(piece) != std::string::npos) return &box;
        return nullptr;
    }
};

TEST_F(StagesTest, ABadPackageForOneModelReachesOnlyTheFirstDevicesAndTheRunStops) {
    StagedSite site = stagedSite(4, 4, 4);
    badFor(site, kS210.name, SimAfterBadPackage::neverBack);
    auto rig = queried(site, package, addressBox);
    ASSERT_TRUE(rig->ok) << rig->error;
    rig->upgradeAndWait();

    const ShownBox* ask =
        boxWith(*rig, "首批设备中有1台升级失败（原因：设备重启后没有应答）。继续升级其余设备吗？");
    ASSERT_NE(nullptr, ask);
    EXPECT_EQ(BoxButtons::yesNoDefaultNo, ask->buttons);
    EXPECT_EQ(IDNO, ask->answer);
    // Only the three first devices received the package.
    for (const auto& [model, ips] : site.ips) {
        EXPECT_EQ(1, uploads(*rig, ips)) << model;
        EXPECT_EQ(model == kS210.name ? "升级失败" : "升级完成", rig->status(ips[0])) << model;
        for (size_t i = 1; i < ips.size(); ++i) {
            EXPECT_EQ("已连接", rig->status(ips[i])) << ips[i];
            EXPECT_TRUE(rig->checked(ips[i])) << ips[i] << ": stays ticked for a resume";
            EXPECT_EQ(FailureReason::halted, rig->flow->rowReason(rig->rowOf(ips[i])).reason);
        }
    }
    EXPECT_NE(std::string::npos,
              rig->ui.boxes.back().text.find("已停止：首批设备中有1台升级失败，其余设备未升级\n未升级：9 台"))
        << rig->ui.boxes.back().text;
    // The report: the stop at the top, first devices and the reason per device.
    const nlohmann::json report = nlohmann::json::parse(reportToJson(rig->flow->buildReport()));
    EXPECT_EQ("首批设备中有1台升级失败，其余设备未升级", report["runStop"]);
    int first = 0, halted = 0;
    for (const auto& device : report["devices"]) {
        first += device["firstDevice"].get<bool>() ? 1 : 0;
        if (device["reason"] == "halted") {
            ++halted;
            EXPECT_EQ("未升级：已停止", device["reasonText"]);
            EXPECT_EQ("首批设备中有1台升级失败，其余设备未升级", device["notStarted"]);
        }
    }
    EXPECT_EQ(3, first);
    EXPECT_EQ(9, halted);
}

TEST_F(StagesTest, TheBrakeStopsAFailingModelWithinItsCapAndTheOthersFinish) {
    StagedSite site = stagedSite(6, 40, 6);
    // Every device takes as long to reboot, so good and bad verdicts come at the same pace.
    for (SimDeviceConfig& device : site.config.devices) device.faults.rebootDownMs = 800;
    badFor(site, kS210.name, SimAfterBadPackage::oldVersion, 2.0 / 3);
    auto rig = queried(site, package, addressBox);
    ASSERT_TRUE(rig->ok) << rig->error;
    // At every moment: S210 devices with the package and no verdict stay within 8 + 2 × good.
    const std::vector<std::string>& s210 = site.ips[kS210.name];
    int worst = 0;
    rig->flow->clearRunEnded();
    rig->flow->OnBnClickedOk();
    rig->ui.serveUntil([&] {
        int open = 0, good = 0;
        for (const auto& ip : s210) {
            const std::string status = rig->status(ip);
            if (status == "正在升级" || status == "正在验证") ++open;
            if (status == "升级完成") ++good;
        }
        worst = std::max(worst, open - (8 + 2 * good));
        return rig->flow->runFinished();
    });
    EXPECT_LE(worst, 0) << "the cap was passed by " << worst;
    const ShownBox* brake = boxWith(*rig, "型号QN-S210的设备失败过多，已停止升级该型号");
    ASSERT_NE(nullptr, brake);
    EXPECT_NE(std::string::npos, brake->text.find("设备重启后的版本为2.3.9")) << brake->text;
    const int reached = uploads(*rig, s210);
    EXPECT_LT(reached, 20) << "the brake came too late";
    int halted = 0;
    for (const auto& ip : s210)
        halted += rig->flow->rowReason(rig->rowOf(ip)).reason == FailureReason::halted;
    EXPECT_EQ(static_cast<int>(s210.size()) - reached, halted);
    for (const char* model : {kH200.name, kD310.name})
        for (const auto& ip : site.ips[model]) EXPECT_EQ("升级完成", rig->status(ip)) << ip;
    EXPECT_NE(std::string::npos, rig->flow->runStopText().find("型号QN-S210的设备失败过多，已自动停止"));
}

TEST_F(StagesTest, CancelInTheFirstStageStartsNothingElse) {
    StagedSite site = stagedSite(3, 3, 0);
    badFor(site, kH200.name, SimAfterBadPackage::longSilence);  // first devices stay in 正在验证
    badFor(site, kS210.name, SimAfterBadPackage::longSilence);
    auto rig = queried(site, package, addressBox, 60000);
    ASSERT_TRUE(rig->ok) << rig->error;
    rig->flow->clearRunEnded();
    rig->flow->OnBnClickedOk();
    rig->ui.serveUntil([&] { return rig->flow->rowsWithStatus(DEVICE_STATUS_VERIFYING) == 2; });
    EXPECT_EQ(4, rig->flow->rowsWithStatus(DEVICE_STATUS_WAIT_UPGRADE));
    rig->flow->OnBnClickedOk();  // 取消
    rig->ui.serveUntil([&] { return rig->flow->runFinished(); });
    for (const auto& [model, ips] : site.ips) {
        EXPECT_EQ(1, uploads(*rig, ips)) << model;
        for (size_t i = 1; i < ips.size(); ++i) {
            EXPECT_EQ("已连接", rig->status(ips[i]));
            EXPECT_TRUE(rig->checked(ips[i]));
            EXPECT_EQ("升级已取消", rig->flow->whyNotStarted(rig->rowOf(ips[i])));
        }
    }
    EXPECT_EQ("升级已取消", rig->flow->runStopText());
}

TEST_F(StagesTest, UpgradeAgainResumesTheDevicesAStopLeftBehind) {
    StagedSite site = stagedSite(3, 3, 3);
    site.config.devices[3].faults.failFirstPut = true;  // the first QN-S210 refuses its first package
    auto rig = queried(site, package, addressBox);
    ASSERT_TRUE(rig->ok) << rig->error;
    rig->upgradeAndWait();
    EXPECT_EQ(6, rig->flow->rowsWithStatus(DEVICE_STATUS_CONNECTED));
    EXPECT_TRUE(rig->flow->canRetry());
    rig->upgradeAndWait();  // 升级 again: the ticked rows the stop left
    EXPECT_EQ(8, rig->flow->rowsWithStatus(DEVICE_STATUS_UPGRADE_DONE));
    EXPECT_EQ("升级失败", rig->status(site.ips[kS210.name][0])) << "unticked, so not taken again";
    EXPECT_TRUE(rig->flow->runStopText().empty());
    // A refused package needs a person on site: only the operator's own choice retries it.
    EXPECT_FALSE(rig->flow->canRetry());
    rig->flow->list().SetSelected(rig->rowOf(site.ips[kS210.name][0]), true);
    ASSERT_TRUE(rig->flow->retrySelected());
    rig->ui.serveUntil([&] { return rig->flow->runFinished(); });
    EXPECT_EQ(9, rig->flow->rowsWithStatus(DEVICE_STATUS_UPGRADE_DONE));
}

// The command line: the same stop exits 2 with the rows not started in the list; --retry resumes
// them; --continue-after-first-failure answers the question yes.
TEST_F(StagesTest, TheCommandLineStopsResumesAndContinuesOnRequest) {
    if (!quenta_test::cliBuilt()) GTEST_SKIP() << "quenta-upgrade-cli not built";
    StagedSite site = stagedSite(3, 3, 3);
    site.config.devices[3].faults.failFirstPut = true;
    auto sim = std::make_unique<SimSite>(site.config);
    std::string error;
    ASSERT_EQ(0, sim->open(error)) << error;
    ASSERT_EQ(0, sim->start());
    const std::string base = "upgrade --package " + quenta_test::shellQuoted(package) + " --address-box " +
                             addressBox + " --verify-timeout 5 --format csv --quiet";
    auto run = [&](const std::string& extra) {
        return quenta_test::runCli(quenta_test::shellWords(base + extra), folder);
    };
    auto count = [](const std::string& text, const std::string& piece) {
        int n = 0;
        for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
        return n;
    };
    quenta_test::CliRun r = run("");
    EXPECT_EQ(2, r.exitCode) << r.err;
    EXPECT_EQ(6, count(r.out, ",halted,未升级：已停止")) << r.out;
    EXPECT_NE(std::string::npos, r.err.find("首批设备中有1台升级失败")) << r.err;

    sim.reset();
    sim = std::make_unique<SimSite>(site.config);
    ASSERT_EQ(0, sim->open(error)) << error;
    ASSERT_EQ(0, sim->start());
    r = run(" --retry 1");
    // The retry resumes the devices the stop left; the refused package needs a person on site.
    EXPECT_EQ(2, r.exitCode) << r.err;
    EXPECT_EQ(8, count(r.out, ",升级完成,")) << r.out;
    EXPECT_EQ(1, count(r.out, ",device_error,")) << r.out;

    StagedSite bad = stagedSite(2, 3, 0);
    badFor(bad, kS210.name, SimAfterBadPackage::neverBack);
    sim.reset();
    sim = std::make_unique<SimSite>(bad.config);
    ASSERT_EQ(0, sim->open(error)) << error;
    ASSERT_EQ(0, sim->start());
    r = run(" --continue-after-first-failure --brake-percent 0");
    EXPECT_EQ(2, r.exitCode) << r.err;
    EXPECT_EQ(3, count(r.out, ",升级失败,")) << r.out;
    EXPECT_EQ(2, count(r.out, ",升级完成,")) << r.out;
    for (const auto& ip : bad.ips[kS210.name]) EXPECT_EQ(1u, sim->record().uploadsTo(ip).size()) << ip;
}

}  // namespace
