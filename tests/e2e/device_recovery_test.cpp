// test-labels: threads
// Recovery of the addresses a query missed on a lossy site: with 5 % of the datagrams lost each way
// the query alone misses some devices; one recovery lists every one of them.
#include <gtest/gtest.h>

#include "engine/device_list.h"
#include "engine/device_status.h"
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

}  // namespace
