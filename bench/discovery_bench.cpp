// Discovery benchmark: a device-list query against simulated sites of 50, 250 and 1000 answering
// devices (benchmarking addresses 198.18.x.y, the address box on 192.0.2.2, in a private network namespace;
// loopback addresses are no site addresses: the tool drops them). Prints the measured query time, the floor
// the connect thread's pacing gives (N x 10 ms for the first requests plus its three idle passes of 300 ms),
// their ratio (goal <= 1.1), and whether every device was listed. With --cli BINARY it also reports the peak
// memory (VmHWM) of quenta-upgrade-cli for 1000 devices.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "engine/headless_ui.h"
#include "engine/upgrade_flow.h"
#include "sim/package_maker.h"
#include "sim/sim_config.h"
#include "sim/sim_site.h"
#include "ss/ss_platform.h"

namespace {

std::string siteAddress(int index) {  // 198.18.2.2 ... (netns-run puts 198.18.0.1/15 on lo)
    return "198.18." + std::to_string(2 + index / 250) + "." + std::to_string(2 + index % 250);
}

SimConfig uniformSite(int devices) {
    SimConfig config;
    SimAddressBoxConfig box;
    box.device.ip = "192.0.2.2";
    box.device.model = "QN-AB100";
    box.device.platform = "A20";
    box.device.hardVersion = "HW-1.0";
    box.device.kernelVersion = "3.10.108";
    box.device.softVersion = "1.8.0";
    box.device.serialNum = "QNT0AB10001";
    box.maxAddressesPerDatagram = 50;
    config.addressBox = box;
    for (int i = 0; i < devices; ++i) {
        SimDeviceConfig c;
        c.ip = siteAddress(i);
        c.model = "QN-H200";
        c.platform = "hi3516a";
        c.master = 1;
        c.slave = i % 100;
        c.hardVersion = "HW-1.0";
        c.kernelVersion = "3.10.108";
        c.softVersion = "2.3.9";
        c.serialNum = "QNT2H2" + std::to_string(10000 + i);
        config.devices.push_back(c);
    }
    return config;
}

long peakKiB(pid_t pid) {
    std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (f == nullptr) return -1;
    char line[256];
    long value = -1;
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::sscanf(line, "VmHWM: %ld kB", &value) == 1) break;
    std::fclose(f);
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    simReexecInPrivateNamespace(argv, 1);
    std::string cli;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--cli") cli = argv[i + 1];
    char folder[] = "/tmp/discovery-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    setenv("QUENTA_DRIVE_ROOT", folder, 1);
    std::string package = std::string(folder) + "/QN通用升级包-2.4.1.quenta";
    PackageSpec spec;
    spec.modelList = "QN-H200";
    spec.version = "2.4.1";
    if (makePackageFile(package, spec) != 0) return 1;

    std::printf("%8s %12s %12s %7s %s\n", "devices", "query ms", "floor ms", "ratio", "all listed");
    for (int n : {50, 250, 1000}) {
        SimSite site(uniformSite(n));
        std::string error;
        if (site.open(error) != 0 || site.start() != 0) {
            std::fprintf(stderr, "site: %s\n", error.c_str());
            return 1;
        }
        HeadlessUi ui;
        UpgradeFlow flow(ui);
        ui.attach(&flow);
        if (!flow.OnInitDialog() || flow.loadPackageFile(package) != 0) return 1;
        flow.setAddressBoxIp("192.0.2.2");
        int64_t started = ss_platform_monotonicMs();
        flow.OnBnClickedButtonQuery();
        int64_t elapsed = ss_platform_monotonicMs() - started;
        if (auto refused = ui.errorSince(0)) std::fprintf(stderr, "refused: %s\n", refused->text.c_str());
        int connected = 0;
        for (int row = 0; row < flow.list().RowCount(); ++row)
            if (rowStatus(flow.list(), row) == DEVICE_STATUS_CONNECTED) ++connected;
        double floor = n * 10.0 + 3 * 300.0;
        std::printf("%8d %12lld %12.0f %7.3f %s (%d of %d)\n", n, static_cast<long long>(elapsed), floor,
                    elapsed / floor, connected == n ? "yes" : "NO", connected, n);
        std::fflush(stdout);
        flow.OnDestroy();
        site.stop();
    }

    if (!cli.empty()) {
        SimSite site(uniformSite(1000));
        std::string error;
        if (site.open(error) != 0 || site.start() != 0) return 1;
        pid_t pid = fork();
        if (pid == 0) {
            int devnull = open("/dev/null", 1);
            dup2(devnull, 1);
            dup2(devnull, 2);
            execl(cli.c_str(), cli.c_str(), "query", "--package", package.c_str(), "--address-box",
                  "192.0.2.2", "--format", "json", "--quiet", static_cast<char*>(nullptr));
            _exit(127);
        }
        long peak = -1;
        int status = 0;
        // Sample VmHWM until the child exits (the kernel keeps the high-water mark).
        while (waitpid(pid, &status, WNOHANG) == 0) {
            long now = peakKiB(pid);
            if (now > peak) peak = now;
            ss_platform_sleepMs(20);
        }
        std::printf("quenta-upgrade-cli query of 1000 devices: exit %d, peak memory (VmHWM) %ld KiB\n",
                    WIFEXITED(status) ? WEXITSTATUS(status) : -1, peak);
        site.stop();
    }
    std::string cleanup = std::string("rm -rf '") + folder + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 0;
}
