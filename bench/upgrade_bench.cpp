// Upgrade benchmark: 40 devices, an 8 MiB package, inside a private network namespace. Measures the
// loopback transfer rate with one direct put, then times a whole run (from "升级" to the run's end)
// against the floor its waits give: jobs go in waves of 8 (the slots); each wave costs the two
// exchanges' first 200 ms sleeps plus 8 concurrent transfers at the measured rate; the last wave
// overlaps the 5 s settle time. Prints both, the ratio (goal <= 1.15), and the final statuses.
#include <unistd.h>

#include <atomic>
#include <thread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "engine/headless_ui.h"
#include "engine/quenta_upgrade_server.h"
#include "engine/upgrade_flow.h"
#include "protocol/device_actions.h"
#include "protocol/ss_pair.h"
#include "package/package_load.h"
#include "sim/package_maker.h"
#include "sim/sim_config.h"
#include "sim/sim_site.h"
#include "ss/ss_platform.h"
#include "ss/ss_tcpfile.h"

namespace {

constexpr int kDevices = 40;
constexpr long long kPackageBytes = 8LL * 1024 * 1024;

SimDeviceConfig deviceAt(const std::string& ip, int serial) {
    SimDeviceConfig c;
    c.ip = ip;
    c.model = "QN-H200";
    c.platform = "hi3516a";
    c.master = 1;
    c.slave = serial;
    c.hardVersion = "HW-1.0";
    c.kernelVersion = "3.10.108";
    c.softVersion = "2.3.9";
    c.serialNum = "QNT2H2" + std::to_string(10000 + serial);
    return c;
}

// One direct put of the package to a device's upload service; bytes per millisecond, or -1.
double measureLoopbackRate(const std::string& ip, const std::string& narrowPackage) {
    SS_SocketPtr socket = SS_Socket_newUdpServerSocket(nextJobPort());
    SS_SocketPtr device = _SS_Socket_newClientSocket(ip.c_str(), QN_PORT_DEVICE, SS_SOCKET_UDP);
    std::string answer;
    if (!socket || !device ||
        _requestAction(socket.get(), device.get(), QNACTION_START_UPLOAD_SERVICE, QNACTION_START_UPLOAD_SERVICE_OK,
                       answer) != 0)
        return -1;
    SS_PairList pairs;
    stringToPairList(answer.c_str(), pairs);
    int port = -1;
    pairListGetInt(QNKEY_PORT, port, &pairs);
    SS_TcpFileClientPtr client(SS_TcpFileClient_new(port, ip.c_str()));
    if (!client) return -1;
    int64_t started = ss_platform_monotonicMs();
    int result = SS_TcpFileClient_putFile("C:\\Work/quenta/upload/QN_UPGRADE/rate.bin", client.get(),
                                          narrowPackage.c_str());
    int64_t elapsed = ss_platform_monotonicMs() - started;
    return result == 0 && elapsed > 0 ? static_cast<double>(kPackageBytes) / elapsed : -1;
}

}  // namespace

int main(int, char** argv) {
    simReexecInPrivateNamespace(argv, 60);
    char folder[] = "/tmp/upgrade-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    setenv("QUENTA_DRIVE_ROOT", folder, 1);
    std::string package = std::string(folder) + "/QN通用升级包-2.4.1.quenta";
    PackageSpec spec;
    spec.modelList = "QN-H200";
    spec.version = "2.4.1";
    spec.payloadSize = kPackageBytes - 4096;
    if (makeLargePackageFile(package, spec) != 0) return 1;

    SimConfig config;
    SimAddressBoxConfig box;
    box.device = deviceAt("192.0.2.2", 0);
    box.device.model = "QN-AB100";
    box.device.serialNum = "QNT0AB10001";
    config.addressBox = box;
    // Devices for the run, then 8 unlisted ones for measuring the rate of 8 concurrent transfers.
    std::vector<std::string> rateDevices;
    for (int i = 0; i < kDevices + kUploadSlotCount; ++i) {
        config.devices.push_back(deviceAt(*simSiteAddress(i + 1), i + 1));
        if (i >= kDevices) {
            config.devices.back().listed = false;
            rateDevices.push_back(config.devices.back().ip);
        }
    }
    SimSite site(config);
    std::string error;
    if (site.open(error) != 0 || site.start() != 0) {
        std::fprintf(stderr, "site: %s\n", error.c_str());
        return 1;
    }
    HeadlessUi ui;
    UpgradeFlow flow(ui);
    ui.attach(&flow);
    if (!flow.OnInitDialog() || flow.loadPackageFile(package) != 0) return 1;
    // Aggregate loopback rate of one wave: 8 puts at once.
    std::vector<std::thread> puts;
    std::atomic<int> failures{0};
    int64_t rateStarted = ss_platform_monotonicMs();
    for (const auto& ip : rateDevices)
        puts.emplace_back([&, ip] {
            if (measureLoopbackRate(ip, flow.package()->narrowPath) < 0) ++failures;
        });
    for (auto& t : puts) t.join();
    int64_t rateElapsed = ss_platform_monotonicMs() - rateStarted;
    const double rate = failures.load() == 0 && rateElapsed > 0
                            ? static_cast<double>(kUploadSlotCount) * kPackageBytes / rateElapsed
                            : -1;
    flow.setAddressBoxIp("192.0.2.2");
    flow.OnBnClickedButtonQuery();
    std::printf("devices listed: %d, ticked: %d\n", flow.list().RowCount(), flow.list().CountRows(RC_ITEM_CHECKED));

    flow.clearRunEnded();
    int64_t started = ss_platform_monotonicMs();
    flow.OnBnClickedOk();
    ui.serveUntil([&] { return flow.runEnded() && !flow.upgradeThreadActive(); });
    int64_t elapsed = ss_platform_monotonicMs() - started;
    // Jobs still in their Reboot exchange when the slots emptied finish right after the run's end.
    ui.serveUntil([&] {
        for (int row = 0; row < flow.list().RowCount(); ++row)
            if (rowStatus(flow.list(), row) == DEVICE_STATUS_UPGRADING) return false;
        return true;
    });

    int done = 0, failed = 0;
    for (int row = 0; row < flow.list().RowCount(); ++row) {
        int code = rowStatus(flow.list(), row);
        if (code == DEVICE_STATUS_UPGRADE_DONE) ++done;
        if (code == DEVICE_STATUS_UPGRADE_FAILED) ++failed;
    }
    const int waves = (kDevices + kUploadSlotCount - 1) / kUploadSlotCount;
    const double tWave = rate > 0 ? kUploadSlotCount * kPackageBytes / rate : 0;
    const double floor = (waves - 1) * (400.0 + tWave) + std::max(5000.0, 200.0 + tWave);
    std::printf("loopback rate: %.1f MiB/s (8 concurrent transfers)\n", rate * 1000.0 / (1024 * 1024));
    std::printf("upgrade of %d devices, %lld MiB package: %lld ms, floor %.0f ms, ratio %.3f\n", kDevices,
                kPackageBytes / (1024 * 1024), static_cast<long long>(elapsed), floor, elapsed / floor);
    std::printf("rows 升级完成: %d, 升级失败: %d, peak concurrent transfers at the site: %d\n", done, failed,
                site.record().maxConcurrentTransfers);
    flow.OnDestroy();
    site.stop();
    std::string cleanup = std::string("rm -rf '") + folder + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 0;
}
