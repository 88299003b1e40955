// Recovery benchmark: a site of 700 devices losing 0 %, 1 % and 5 % of its datagrams each way (the
// address box keeps its own), in a private network namespace. Prints how many devices the query
// alone listed, how many after one recovery ("重新连接失败的设备"), and the recovery's time.
// Goal: no device lost after the recovery at 5 % loss, and the recovery takes less than 5 s.
// Then 1,000 silent addresses (every site address where nothing listens, the rest from the
// benchmarking range 198.18.0.0/15 that netns-run routes to the namespace's lo): their recovery costs one
// pass at the query's pacing (10 ms an address, about 10 s) plus the answer waits, not four rounds.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/device_recovery.h"
#include "engine/device_status.h"
#include "engine/headless_ui.h"
#include "engine/upgrade_flow.h"
#include "sim/package_maker.h"
#include "sim/sim_config.h"
#include "sim/sim_site.h"
#include "ss/ss_platform.h"

namespace {

constexpr int kDevices = 700;

SimConfig lossySite(double loss) {
    SimConfig config;
    config.loss = loss;
    config.lossSeed = 2026;
    SimAddressBoxConfig box;
    box.device.ip = *simSiteAddress(0);
    box.device.model = "QN-AB100";
    box.device.hardVersion = "HW-1.0";
    box.device.kernelVersion = "3.10.108";
    box.device.softVersion = "1.8.0";
    box.device.serialNum = "QNT0AB10001";
    box.device.faults.loss = 0.0;
    box.listFaults.loss = 0.0;
    box.maxAddressesPerDatagram = 50;
    config.addressBox = box;
    for (int i = 0; i < kDevices; ++i) {
        SimDeviceConfig c;
        c.ip = *simSiteAddress(i + 1);
        c.model = "QN-H200";
        c.platform = "hi3516a";
        c.hardVersion = "HW-1.0";
        c.kernelVersion = "3.10.108";
        c.softVersion = "2.3.9";
        c.serialNum = "QNT2H2" + std::to_string(10000 + i);
        config.devices.push_back(c);
    }
    return config;
}

}  // namespace

int main(int argc, char** argv) {
    (void)argc;
    simReexecInPrivateNamespace(argv, kDevices + 1);
    char folder[] = "/tmp/recovery-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    setenv("QUENTA_DRIVE_ROOT", folder, 1);
    const std::string package = std::string(folder) + "/QN通用升级包-2.4.1.quenta";
    PackageSpec spec;
    spec.modelList = "QN-H200";
    spec.version = "2.4.1";
    if (makePackageFile(package, spec) != 0) return 1;

    std::printf("%8s %6s %14s %16s %12s %s\n", "devices", "loss", "by query", "after recovery", "recovery ms",
                "goal (0 lost, < 5000 ms)");
    bool allGood = true;
    for (double loss : {0.0, 0.01, 0.05}) {
        SimSite site(lossySite(loss));
        std::string error;
        if (site.open(error) != 0 || site.start() != 0) {
            std::fprintf(stderr, "site: %s\n", error.c_str());
            return 1;
        }
        HeadlessUi ui;
        UpgradeFlow flow(ui);
        ui.attach(&flow);
        if (!flow.OnInitDialog() || flow.loadPackageFile(package) != 0) return 1;
        flow.setAddressBoxIp(*simSiteAddress(0));
        flow.OnBnClickedButtonQuery();
        if (auto refused = ui.errorSince(0)) std::fprintf(stderr, "refused: %s\n", refused->text.c_str());
        const int byQuery = flow.rowsWithStatus(DEVICE_STATUS_CONNECTED);
        const int64_t started = ss_platform_monotonicMs();
        flow.recoverUnanswered(false);
        const int64_t elapsed = ss_platform_monotonicMs() - started;
        const int after = flow.rowsWithStatus(DEVICE_STATUS_CONNECTED);
        const bool good = after == kDevices && elapsed < 5000;
        allGood = allGood && good;
        std::printf("%8d %5.0f%% %14d %16d %12lld %s\n", kDevices, loss * 100, byQuery, after,
                    static_cast<long long>(elapsed), good ? "met" : "MISSED");
        std::fflush(stdout);
        flow.OnDestroy();
        site.stop();
    }

    // Silent addresses: no site at all.
    constexpr int kSilent = 1000;
    std::vector<std::string> silent;
    for (int i = 0; i < kSimSiteAddressCount && static_cast<int>(silent.size()) < kSilent; ++i)
        silent.push_back(*simSiteAddress(i));
    for (int i = 0; static_cast<int>(silent.size()) < kSilent; ++i)
        silent.push_back("198.19." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250));
    const RecoveryOptions options;
    const int64_t onePass = static_cast<int64_t>(kSilent) * options.spacingMs;
    const int64_t limit = onePass + static_cast<int64_t>(options.attempts) * options.answerWaitMs;
    const int64_t started = ss_platform_monotonicMs();
    const std::vector<std::string> left = recoverDevices(silent, options, [](const DeviceInfo&) {});
    const int64_t elapsed = ss_platform_monotonicMs() - started;
    const bool good = static_cast<int>(left.size()) == kSilent && elapsed <= limit;
    allGood = allGood && good;
    std::printf("\n%8s %12s %14s %12s %s\n", "silent", "one pass ms", "recovery ms", "left",
                "goal (<= one pass + answer waits)");
    std::printf("%8d %12lld %14lld %12zu %s (limit %lld ms)\n", kSilent, static_cast<long long>(onePass),
                static_cast<long long>(elapsed), left.size(), good ? "met" : "MISSED",
                static_cast<long long>(limit));
    return allGood ? 0 : 2;
}
