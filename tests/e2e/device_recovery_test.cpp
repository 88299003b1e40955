// test-labels: threads
// Recovery of the addresses a query missed on a lossy site: with 5 % of the datagrams lost each way
// the query alone misses some devices; one recovery lists every one of them.
#include <gtest/gtest.h>

#include "engine/device_list.h"
#include "engine/device_recovery.h"
#include "engine/device_status.h"
#include "protocol/device_actions.h"
#include "tests/support/engine_site.h"
#include "tests/support/netns.h"
#include "tests/support/temp_dir.h"

QUENTA_TEST_IN_PRIVATE_NAMESPACE(260);

using namespace engine_test;

namespace {

TEST(DeviceRecoveryTest, EveryDeviceOfALossySiteIsListedAfterOneRecovery) {
    quenta_test::ScopedDriveRoot drive;
    quenta_test::TempDir folder{"recovery-"};
    const std::string package = writePackage(folder.path(), "QN通用升级包-2.4.1.quenta", "QN-H200", "2.4.1");
    MixedSite site = makeUniformSite(250);
    site.config.loss = 0.05;
    site.config.lossSeed = 11;
    // The address box itself is asked once and lists the addresses once: it keeps its datagrams, so
    // every device becomes an address the query knows.
    site.config.addressBox->device.faults.loss = 0.0;
    site.config.addressBox->listFaults.loss = 0.0;
    FlowRig rig(site.config);
    ASSERT_TRUE(rig.ok) << rig.error;
    ASSERT_TRUE(rig.query(package, site.addressBoxIp, {}, true));
    const int byQuery = rig.flow->rowsWithStatus(DEVICE_STATUS_CONNECTED);
    EXPECT_LT(byQuery, 250) << "5 % loss each way misses about 1 device in 100";
    EXPECT_EQ(250, byQuery + rig.flow->rowsWithStatus(DEVICE_STATUS_CONNECT_FAILED));

    rig.flow->recoverUnanswered(false);
    EXPECT_EQ(250, rig.flow->rowsWithStatus(DEVICE_STATUS_CONNECTED));
    EXPECT_EQ(250, rig.flow->list().RowCount()) << "rows updated in place, none added";
    // Recovered rows are judged as the query judges: ticked (other version), check box free.
    for (const auto& d : site.devices) {
        ASSERT_EQ("已连接", rig.status(d.ip)) << d.ip;
        EXPECT_TRUE(rig.checked(d.ip)) << d.ip;
        EXPECT_FALSE(rig.flow->list().IsRowCheckLocked(rig.rowOf(d.ip))) << d.ip;
    }
    // A second recovery finds nothing left to ask.
    EXPECT_EQ(0, rig.flow->recoverUnanswered(false));
}

// A round that recovers nothing ends the recovery: among silent addresses the answering device is
// found in the first round, the second finds no one and is the last, so each silent address is
// asked twice, not once per round (four); a recovery of silent addresses alone asks each once.
TEST(DeviceRecoveryTest, RoundsEndOnceARoundRecoversNothing) {
    quenta_test::ScopedDriveRoot drive;
    MixedSite site = makeUniformSite(31);
    for (size_t i = 1; i < site.config.devices.size(); ++i) site.config.devices[i].faults.silent = true;
    SimSite sim(site.config);
    std::string error;
    ASSERT_EQ(0, sim.open(error)) << error;
    ASSERT_EQ(0, sim.start());
    std::vector<std::string> addresses;
    for (const auto& d : site.config.devices) addresses.push_back(d.ip);
    int found = 0;
    const std::vector<std::string> left =
        recoverDevices(addresses, RecoveryOptions{}, [&](const DeviceInfo&) { ++found; });
    EXPECT_EQ(1, found);
    EXPECT_EQ(30u, left.size());
    EXPECT_EQ(30u, recoverDevices(left, RecoveryOptions{}, [&](const DeviceInfo&) { ++found; }).size());
    sim.stop();
    const SimRecord record = sim.record();
    EXPECT_EQ(1, record.countReceived(site.config.devices[0].ip, QNACTION_GET_SYSTEM_INFO));
    for (size_t i = 1; i < site.config.devices.size(); ++i)
        EXPECT_EQ(3, record.countReceived(site.config.devices[i].ip, QNACTION_GET_SYSTEM_INFO))
            << site.config.devices[i].ip;
}

}  // namespace
