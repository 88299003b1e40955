// test-labels: threads
// Closing the window while engine threads run never hangs: during a query (while the handler is
// blocked in a send to the flow thread), during an upgrade through "退出" (cancel, then close) and
// by a plain destroy in the middle of transfers. Repeated, at different moments. A hang fails the
// test through its time-out.
#include <gtest/gtest.h>

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "tests/support/engine_site.h"
#include "tests/support/netns.h"
#include "tests/support/temp_dir.h"

QUENTA_TEST_IN_PRIVATE_NAMESPACE(80);

using namespace engine_test;

namespace {

class ShutdownTest : public ::testing::Test {
  protected:
    quenta_test::ScopedDriveRoot drive;
    quenta_test::TempDir folder{"shutdown-"};
    MixedSite site = makeMixedSite();
    std::string package = writePackage(folder.path(), "QN通用升级包-2.4.1.quenta", "QN-H200,QN-S210,QN-D310",
                                       "2.4.1", 1024 * 1024);
};

TEST_F(ShutdownTest, DestroyDuringAQueryRepeatedly) {
    for (int round = 0; round < 6; ++round) {
        FlowRig rig(site.config);
        ASSERT_TRUE(rig.ok) << rig.error;
        int ticks = 0;
        const int closeAfter = 5 + round * 25;  // about 50 ms .. 1.3 s into the connection test
        rig.ui.whileProgress = [&](const std::string&) {
            if (++ticks == closeAfter) rig.flow->OnDestroy();
        };
        rig.query(package, site.addressBoxIp, site.tickedModels);
        EXPECT_TRUE(rig.flow->destroyed()) << "round " << round;
        EXPECT_EQ(nullptr, rig.flow->server());
    }
}

TEST_F(ShutdownTest, ExitDuringAnUpgradeCancelsThenClosesRepeatedly) {
    for (int round = 0; round < 3; ++round) {
        FlowRig rig(site.config);
        ASSERT_TRUE(rig.ok) << rig.error;
        ASSERT_TRUE(rig.query(package, site.addressBoxIp, site.tickedModels));
        rig.flow->OnBnClickedOk();
        rig.ui.serveUntil([&] { return rig.flow->rowsWithStatus(DEVICE_STATUS_UPGRADING) > 0; });
        rig.flow->click(IDC_EXIT);  // disabled while upgrading: nothing
        EXPECT_FALSE(rig.ui.closeRequested);
        if (round == 0) {
            // The close box asks first; "否" leaves the window and the run as they are.
            const auto meant = rig.ui.answer;
            rig.ui.answer = [](const ShownBox& box) {
                return box.buttons == BoxButtons::yesNo ? IDNO : IDOK;
            };
            rig.flow->OnBnClickedCancel();
            EXPECT_EQ(flowtext::kConfirmClose, rig.ui.boxes.back().text);
            EXPECT_FALSE(rig.ui.closeRequested);
            EXPECT_TRUE(rig.flow->isUpgrading());
            rig.ui.answer = meant;
        }
        rig.flow->OnBnClickedCancel();  // the close box, "是": cancel, wait for transfers, close
        EXPECT_TRUE(rig.ui.closeRequested);
        rig.flow->OnDestroy();
        // A run ended by closing saved its report all the same.
        ASSERT_FALSE(rig.flow->lastReportPath().empty()) << rig.flow->lastReportError();
        EXPECT_EQ(0u, quenta_test::readWholeFile(rig.flow->lastReportPath()).find("\xEF\xBB\xBF升级包,"));
        SimRecord record = rig.site->record();
        for (const auto& u : record.uploads) {
            bool faulty = false;
            for (const auto& d : site.devices)
                if (d.ip == u.deviceIp && d.expect == Expect::uploadFails) faulty = true;
            if (!faulty) {
                EXPECT_TRUE(u.complete) << "a running transfer was cut: " << u.deviceIp;
            }
        }
    }
}

TEST_F(ShutdownTest, DestroyInTheMiddleOfTransfersRepeatedly) {
    for (int round = 0; round < 4; ++round) {
        FlowRig rig(site.config);
        ASSERT_TRUE(rig.ok) << rig.error;
        ASSERT_TRUE(rig.query(package, site.addressBoxIp, site.tickedModels));
        rig.flow->OnBnClickedOk();
        rig.ui.serveUntil([&] { return rig.flow->rowsWithStatus(DEVICE_STATUS_UPGRADING) > round; });
        rig.flow->OnDestroy();  // jobs blocked in their sends get "closed" and end
        EXPECT_FALSE(rig.flow->isUpgrading());
    }
}

TEST_F(ShutdownTest, DestroyWhileTheFailedDeviceStepRuns) {
    FlowRig rig(site.config);
    ASSERT_TRUE(rig.ok) << rig.error;
    rig.ui.whileProgress = [&](const std::string& line1) {
        if (line1 == "正在处理连接失败的设备，请稍后...") rig.flow->OnDestroy();
    };
    rig.query(package, site.addressBoxIp, site.tickedModels, true);
    EXPECT_TRUE(rig.flow->destroyed());
}

}  // namespace
