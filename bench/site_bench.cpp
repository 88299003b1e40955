// Site benchmark: the tool against a simulated site in a private network namespace where every
// device address has a link of its own (sim/netns-run --link-rate). One run prints each figure, its
// floor, the ratio and the goal beside it:
//   (a) query time of 50, 250 and 700 devices against the pacing floor (each fixed wait named);
//   (b) devices listed at 0 %, 1 % and 5 % datagram loss by the query alone and after one recovery
//       ("重新连接失败的设备"), and the recovery's time;
//   (c) a batch upgrade (query, then the run) of 40 and 200 devices against its floor: the query's
//       floor, then waves of 8 jobs, each job its two exchanges' first pauses plus the transfer at the
//       link rate, plus the first question of the verification after the last reboot (on, as by
//       default); the run ends as soon as the last device is verified (no settle time);
//   (d) the peak memory (ru_maxrss of the child) of quenta-upgrade-cli querying 700 devices;
//   (e) with --stages only: 200 devices that take 20 s to reboot, upgraded in one go and in stages
//       (first device, then the growing cap), against the goal: staged <= one go + 5 x (one device's
//       exchanges, transfer, reboot and first verification question);
//   (f) with --wine-cli EXE only: the batch upgrade of 40 devices by the command-line programs, the
//       build's quenta-upgrade-cli and EXE (quenta-upgrade-cli.exe) under wine, each as a whole
//       process against the floor of (c); wine's own start (a run of --version) is printed beside.
//       Wine runs with a WINEPREFIX made inside the namespace and ends with `wineserver -k`.
// Usage: site_bench [--size MIB] [--rate MBIT] [--cli PATH] [--stages | --wine-cli EXE]   (defaults 16,
// 100, the build's CLI)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "engine/headless_ui.h"
#include "engine/quenta_upgrade_server.h"
#include "engine/upgrade_flow.h"
#include "engine/upgrade_verifier.h"
#include "protocol/device_actions.h"
#include "sim/package_maker.h"
#include "sim/sim_config.h"
#include "sim/sim_site.h"
#include "ss/ss_platform.h"

namespace {

constexpr int kMostDevices = 700;
constexpr double kMiB = 1024.0 * 1024.0;

struct Options {
    int sizeMiB = 16;
    int rateMbit = 100;
    std::string cli;      // empty: quenta-upgrade-cli of this build
    bool stages = false;  // (e) alone
    std::string wineCli;  // (f) alone when set
};

// A fixed wait of a query, as the tool keeps it.
struct Wait {
    std::string name;
    double ms;
};

// The least a query of `devices` answering devices can take: every wait below is a sleep the tool
// always makes; the waits that end early when something arrives (address list, polls) count 0.
std::vector<Wait> queryWaits(int devices) {
    return {
        {"address box check: pause after its GetSystemInfo", 50},
        {"pause after starting the three query threads", 50},
        {"first pass of the connect thread: N x 10 ms", devices * 10.0},
        {"connect thread's idle passes: 3 x 300 ms", 3 * 300.0},
    };
}

double sumOf(const std::vector<Wait>& waits) {
    double total = 0;
    for (const auto& w : waits) total += w.ms;
    return total;
}

SimDeviceConfig deviceAt(int index) {
    SimDeviceConfig c;
    c.ip = *simSiteAddress(index + 1);
    c.model = "QN-H200";
    c.platform = "hi3516a";
    c.master = 1;
    c.slave = index % 100;
    c.hardVersion = "HW-1.0";
    c.kernelVersion = "3.10.108";
    c.softVersion = "2.3.9";
    c.serialNum = "QNT2H2" + std::to_string(10000 + index);
    return c;
}

// `devices` devices on site addresses 1.., the address box on address 0 (which never loses a datagram:
// the figure is about the devices).
SimConfig siteOf(int devices, double loss = 0) {
    SimConfig config;
    config.loss = loss;
    config.lossSeed = 2026;
    SimAddressBoxConfig box;
    box.device.ip = *simSiteAddress(0);
    box.device.model = "QN-AB100";
    box.device.platform = "A20";
    box.device.hardVersion = "HW-1.0";
    box.device.kernelVersion = "3.10.108";
    box.device.softVersion = "1.8.0";
    box.device.serialNum = "QNT0AB10001";
    box.device.faults.loss = 0.0;
    box.listFaults.loss = 0.0;
    box.maxAddressesPerDatagram = 50;
    config.addressBox = box;
    for (int i = 0; i < devices; ++i) config.devices.push_back(deviceAt(i));
    return config;
}

// A started site with the tool beside it (package loaded, address box set). ok() false: it said why.
class Bench {
  public:
    Bench(SimConfig config, const std::string& package) : site_(std::move(config)), flow_(ui_) {
        ui_.attach(&flow_);
        std::string error;
        if (site_.open(error) != 0 || site_.start() != 0) {
            std::fprintf(stderr, "site: %s\n", error.c_str());
            return;
        }
        started_ = true;
        initialised_ = flow_.OnInitDialog();
        if (!initialised_ || flow_.loadPackageFile(package) != 0) {
            std::fprintf(stderr, "the package was refused: %s\n", package.c_str());
            return;
        }
        flow_.setAddressBoxIp(*simSiteAddress(0));
        ok_ = true;
    }
    ~Bench() {
        if (initialised_) flow_.OnDestroy();
        if (started_) site_.stop();
    }
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    bool ok() const { return ok_; }
    UpgradeFlow& flow() { return flow_; }
    HeadlessUi& ui() { return ui_; }
    // Devices the query asked more than once (an answer not yet handled when a full pass came by).
    int askedAgain(int devices) const {
        const SimRecord record = site_.record();
        int count = 0;
        for (int i = 0; i < devices; ++i)
            if (record.countReceived(*simSiteAddress(i + 1), QNACTION_GET_SYSTEM_INFO) > 1) ++count;
        return count;
    }

    // Runs the query; its milliseconds.
    int64_t query() {
        const int64_t started = ss_platform_monotonicMs();
        flow_.OnBnClickedButtonQuery();
        const int64_t elapsed = ss_platform_monotonicMs() - started;
        if (auto refused = ui_.errorSince(0)) std::fprintf(stderr, "refused: %s\n", refused->text.c_str());
        return elapsed;
    }
    int connected() const { return flow_.rowsWithStatus(DEVICE_STATUS_CONNECTED); }

  private:
    SimSite site_;
    HeadlessUi ui_;
    UpgradeFlow flow_;
    bool started_ = false;
    bool initialised_ = false;
    bool ok_ = false;
};

bool allMet = true;

const char* verdict(bool met) {
    allMet = allMet && met;
    return met ? "met" : "MISSED";
}

void queryFigures(const std::string& package) {
    std::printf("\n(a) query time against the pacing floor; the floor's fixed waits:\n");
    for (const auto& w : queryWaits(0))
        std::printf("      %-52s %s\n", w.name.c_str(),
                    w.ms > 0 ? (std::to_string(static_cast<int>(w.ms)) + " ms").c_str() : "N x 10 ms");
    std::printf("    %8s %10s %10s %7s %13s %11s %-12s %s\n", "devices", "query ms", "floor ms", "ratio",
                "listed", "asked 2x", "goal", "");
    for (int n : {50, 250, kMostDevices}) {
        Bench bench(siteOf(n), package);
        if (!bench.ok()) return;
        const int64_t elapsed = bench.query();
        const double floor = sumOf(queryWaits(n));
        const double ratio = elapsed / floor;
        const int listed = bench.connected();
        const bool goal = n >= 250;
        std::printf("    %8d %10lld %10.0f %7.3f %5d of %-4d %11d %-12s %s\n", n,
                    static_cast<long long>(elapsed), floor, ratio, listed, n, bench.askedAgain(n),
                    goal ? "<= 1.05 x" : "(none)",
                    goal ? verdict(ratio <= 1.05 && listed == n) : (listed == n ? "" : "NOT ALL LISTED"));
        std::fflush(stdout);
    }
}

void lossFigures(const std::string& package) {
    std::printf(
        "\n(b) %d devices with datagram loss in each direction: listed by the query, after one recovery\n",
        kMostDevices);
    std::printf("    %6s %10s %16s %12s %-28s %s\n", "loss", "by query", "after recovery", "recovery ms",
                "goal", "");
    for (double loss : {0.0, 0.01, 0.05}) {
        Bench bench(siteOf(kMostDevices, loss), package);
        if (!bench.ok()) return;
        bench.query();
        const int byQuery = bench.connected();
        const int64_t started = ss_platform_monotonicMs();
        bench.flow().recoverUnanswered(false);
        const int64_t elapsed = ss_platform_monotonicMs() - started;
        const int after = bench.connected();
        std::printf("    %5.0f%% %10d %16d %12lld %-28s %s\n", loss * 100, byQuery, after,
                    static_cast<long long>(elapsed), "0 lost after, recovery < 5 s",
                    verdict(after == kMostDevices && elapsed < 5000));
        std::fflush(stdout);
    }
}

// The least a batch upgrade of `devices` ticked devices can take: the query's floor, then waves of
// kUploadSlotCount jobs, each its two exchanges' first pauses (StartUploadService and Reboot each
// pause 200 ms before their first look) plus the transfer at the link rate, then the verifier's
// first question one interval after the last RebootOK.
double batchFloorMs(int devices, double transferMs) {
    const int waves = (devices + kUploadSlotCount - 1) / kUploadSlotCount;
    return sumOf(queryWaits(devices)) + waves * (2 * 200.0 + transferMs) + kVerifyIntervalDefaultMs;
}

void upgradeFigures(const std::string& package, const Options& options) {
    struct stat info {};
    if (stat(package.c_str(), &info) != 0) return;
    const double bytes = static_cast<double>(info.st_size);
    // tc's mbit is 10^6 bit/s; only the file's own bytes are counted (headers make it slower still).
    const double transferMs = bytes * 8 / (options.rateMbit * 1e6) * 1000;
    // Each exchange (StartUploadService, Reboot) sends, then pauses 200 ms before its first look.
    const double exchangesMs = 2 * 200.0;
    // The verifier asks a rebooted device first one interval after its RebootOK.
    const double verifyMs = kVerifyIntervalDefaultMs;
    std::printf(
        "\n(c) batch upgrade over %d Mbit/s links, package %.2f MiB (%.0f bytes); verification after the "
        "reboot on (default)\n"
        "    floor = query floor + waves of %d jobs x (2 exchanges' first pauses %.0f ms + transfer %.0f "
        "ms)\n"
        "            + first verification question %.0f ms after the last RebootOK (no settle time any "
        "more)\n",
        options.rateMbit, bytes / kMiB, bytes, kUploadSlotCount, exchangesMs, transferMs, verifyMs);
    std::printf("    %8s %10s %10s %10s %10s %7s %-10s %s\n", "devices", "query ms", "run ms", "total ms",
                "floor ms", "ratio", "goal", "rows 升级完成 / failed");
    for (int n : {40, 200}) {
        Bench bench(siteOf(n), package);
        if (!bench.ok()) return;
        UpgradeFlow& flow = bench.flow();
        const int64_t queryMs = bench.query();
        const int ticked = flow.list().CountRows(RC_ITEM_CHECKED);
        if (bench.connected() != n || ticked != n)
            std::printf("    note: %d of %d listed, %d ticked\n", bench.connected(), n, ticked);
        flow.clearRunEnded();
        flow.setStages(false);  // the run in one go; (e) compares it with stages
        const int64_t started = ss_platform_monotonicMs();
        flow.OnBnClickedOk();
        bench.ui().serveUntil([&] { return flow.runFinished(); });
        const int64_t runMs = ss_platform_monotonicMs() - started;
        const double floor = batchFloorMs(ticked, transferMs);
        const int64_t total = queryMs + runMs;
        const double ratio = total / floor;
        const int done = flow.rowsWithStatus(DEVICE_STATUS_UPGRADE_DONE);
        const int failed = flow.rowsWithStatus(DEVICE_STATUS_UPGRADE_FAILED);
        std::printf("    %8d %10lld %10lld %10lld %10.0f %7.3f %-10s %d / %d %s\n", n,
                    static_cast<long long>(queryMs), static_cast<long long>(runMs),
                    static_cast<long long>(total), floor, ratio, "<= 1.10 x", done, failed,
                    verdict(ratio <= 1.10 && done == n));
        std::fflush(stdout);
    }
}

void stagesFigures(const std::string& package, const Options& options) {
    struct stat info {};
    if (stat(package.c_str(), &info) != 0) return;
    constexpr int kDevices = 200;
    constexpr int kRebootMs = 20000;
    const double transferMs = static_cast<double>(info.st_size) * 8 / (options.rateMbit * 1e6) * 1000;
    const double oneDeviceMs = 2 * 200.0 + transferMs + kRebootMs + kVerifyIntervalDefaultMs;
    std::printf(
        "\n(e) %d devices rebooting in %d s, %d Mbit/s links, package %.2f MiB; verification on\n"
        "    one device = exchanges' first pauses 400 ms + transfer %.0f ms + reboot %d ms + first question "
        "%d ms = %.0f ms\n",
        kDevices, kRebootMs / 1000, options.rateMbit, info.st_size / kMiB, transferMs, kRebootMs,
        kVerifyIntervalDefaultMs, oneDeviceMs);
    int64_t oneGoMs = 0;
    for (bool stages : {false, true}) {
        SimConfig config = siteOf(kDevices);
        for (SimDeviceConfig& device : config.devices) device.faults.rebootDownMs = kRebootMs;
        Bench bench(config, package);
        if (!bench.ok()) return;
        UpgradeFlow& flow = bench.flow();
        bench.query();
        const int ticked = flow.list().CountRows(RC_ITEM_CHECKED);
        flow.setStages(stages);
        flow.clearRunEnded();
        const int64_t started = ss_platform_monotonicMs();
        flow.OnBnClickedOk();
        bench.ui().serveUntil([&] { return flow.runFinished(); });
        const int64_t runMs = ss_platform_monotonicMs() - started;
        const int done = flow.rowsWithStatus(DEVICE_STATUS_UPGRADE_DONE);
        if (!stages) {
            oneGoMs = runMs;
            std::printf("    in one go: %lld ms, %d of %d ticked rows 升级完成\n",
                        static_cast<long long>(runMs), done, ticked);
            continue;
        }
        const double goal = oneGoMs + 5 * oneDeviceMs;
        std::printf("    in stages: %lld ms, %d of %d ticked rows 升级完成\n", static_cast<long long>(runMs),
                    done, ticked);
        std::printf(
            "    staged / one go = %.3f; extra %.0f ms = %.2f x one device; goal staged <= %.0f ms "
            "(one go + 5 x one device): %s\n",
            static_cast<double>(runMs) / std::max<int64_t>(oneGoMs, 1), static_cast<double>(runMs - oneGoMs),
            (runMs - oneGoMs) / oneDeviceMs, goal, verdict(runMs <= goal && done == kDevices));
        std::fflush(stdout);
    }
}

// The CLI of this build: ../cli/quenta-upgrade-cli beside this program's folder.
std::string defaultCli() {
    char self[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return {};
    std::string path(self, static_cast<size_t>(length));
    path.erase(path.find_last_of('/'));
    path.erase(path.find_last_of('/'));
    return path + "/cli/quenta-upgrade-cli";
}

// Runs `args` (the program looked up in PATH) with stdout into `output` and stderr into `output`.err
// (empty: both to /dev/null); its wall milliseconds, or -1 when it could not be started. `exitCode`:
// its status; `usage`, when given, what the child used.
int64_t runTimed(const std::vector<std::string>& args, const std::string& output, int& exitCode,
                 rusage* usage = nullptr) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    // Opened before the fork: the child of a threaded process only calls what is safe there.
    const std::string errors = output.empty() ? "/dev/null" : output + ".err";
    const int out = open(output.empty() ? "/dev/null" : output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int64_t started = ss_platform_monotonicMs();
    const pid_t pid = out >= 0 && err >= 0 ? fork() : -1;
    if (pid == 0) {
        dup2(out, 1);
        dup2(err, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (out >= 0) close(out);
    if (err >= 0) close(err);
    if (pid < 0) return -1;
    int status = 0;
    if (wait4(pid, &status, 0, usage) != pid) return -1;
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return ss_platform_monotonicMs() - started;
}

void memoryFigure(const std::string& package, const std::string& cli) {
    std::printf("\n(d) peak memory of quenta-upgrade-cli querying %d devices (%s)\n", kMostDevices,
                cli.c_str());
    Bench bench(siteOf(kMostDevices), package);  // the site; the tool here stays idle
    if (!bench.ok()) return;
    const std::string box = *simSiteAddress(0);
    rusage usage{};
    int exitCode = -1;
    if (runTimed({cli, "query", "--package", package, "--address-box", box, "--format", "json", "--quiet"}, "",
                 exitCode, &usage) < 0)
        return;
    const double peakMiB = usage.ru_maxrss / 1024.0;  // ru_maxrss is in KiB: the child's VmHWM
    std::printf("    exit %d, peak memory %.1f MiB (%ld KiB), goal < 20 MiB: %s\n", exitCode, peakMiB,
                usage.ru_maxrss, verdict(exitCode == 0 && peakMiB < 20));
}

// How often `needle` occurs in the file at `path`.
int countInFile(const std::string& path, const std::string& needle) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return 0;
    std::string text;
    char buffer[65536];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, got);
    std::fclose(file);
    int count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size()))
        ++count;
    return count;
}

void cliUpgradeFigures(const std::string& folder, const std::string& package, const Options& options) {
    struct stat info {};
    if (stat(package.c_str(), &info) != 0) return;
    constexpr int kDevices = 40;
    const double transferMs = static_cast<double>(info.st_size) * 8 / (options.rateMbit * 1e6) * 1000;
    const double floor = batchFloorMs(kDevices, transferMs);
    std::printf(
        "\n(f) batch upgrade of %d devices by the command-line programs over %d Mbit/s links, package %.2f "
        "MiB: query, then the run in one go, verification on; the whole process against the floor of (c), "
        "%.0f ms\n",
        kDevices, options.rateMbit, info.st_size / kMiB, floor);
    std::printf("    %-26s %10s %10s %7s %16s %-10s %s\n", "program", "total ms", "start ms", "ratio",
                "ratio w/o start", "goal", "rows 升级完成");
    // Wine's server and prefix belong to this namespace: made here, ended here.
    const std::string prefix = folder + "/wineprefix";
    setenv("WINEPREFIX", prefix.c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    std::string windowsPackage = "Z:" + package;
    std::replace(windowsPackage.begin(), windowsPackage.end(), '/', '\\');
    const std::string box = *simSiteAddress(0);
    const std::string output = folder + "/cli-upgrade.json";
    struct Program {
        const char* name;
        std::vector<std::string> command;  // up to the verb
        std::string package;
        bool underWine;
    };
    const std::vector<Program> programs{
        {"quenta-upgrade-cli (Linux)", {options.cli}, package, false},
        {"quenta-upgrade-cli.exe (wine)", {"wine", options.wineCli}, windowsPackage, true},
    };
    for (const Program& program : programs) {
        int64_t startMs = 0;
        int exitCode = 0;
        if (program.underWine) {
            std::vector<std::string> version = program.command;
            version.push_back("--version");
            if (runTimed(version, "", exitCode) < 0 || exitCode != 0) {  // makes the prefix
                std::printf("    %-26s could not be run under wine\n", program.name);
                allMet = false;
                continue;
            }
            startMs = runTimed(version, "", exitCode);
        }
        // The Windows program keeps its report and work files on its own (wine's) drive C:.
        const std::string driveRoot = std::getenv("QUENTA_DRIVE_ROOT") ? std::getenv("QUENTA_DRIVE_ROOT") : "";
        if (program.underWine) unsetenv("QUENTA_DRIVE_ROOT");
        Bench bench(siteOf(kDevices), package);  // a fresh site; the tool here stays idle
        if (!bench.ok()) return;
        std::vector<std::string> command = program.command;
        for (const char* arg : {"upgrade", "--package"}) command.emplace_back(arg);
        command.push_back(program.package);
        for (const std::string& arg : {std::string("--address-box"), box, std::string("--all"),
                                       std::string("--no-stages"), std::string("--quiet"),
                                       std::string("--format"), std::string("json")})
            command.push_back(arg);
        const int64_t total = runTimed(command, output, exitCode);
        if (!driveRoot.empty()) setenv("QUENTA_DRIVE_ROOT", driveRoot.c_str(), 1);
        const int done = countInFile(output, "升级完成");
        const double ratio = total / floor;
        const double withoutStart = (total - startMs) / floor;
        std::printf("    %-26s %10lld %10lld %7.3f %16.3f %-10s %d of %d, exit %d %s\n", program.name,
                    static_cast<long long>(total), static_cast<long long>(startMs), ratio, withoutStart,
                    "<= 1.10 x", done, kDevices, exitCode,
                    verdict(total > 0 && withoutStart <= 1.10 && done == kDevices && exitCode == 0));
        std::fflush(stdout);
        if (done != kDevices) {  // the failures' reasons, counted
            const std::string reasons = "grep -h -o '\"reason\": \"[^\"]*' '" + output + "' | sort | uniq -c | head -5";
            if (std::system(reasons.c_str()) != 0) std::printf("      (no rows)\n");
        }
    }
    // Not 0 when no server is left to end (wine never ran): nothing to do then.
    [[maybe_unused]] const int ended = std::system("wineserver -k >/dev/null 2>&1");
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--stages") {
            options.stages = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const std::string value = argv[++i];
        if (arg == "--cli") {
            options.cli = value;
        } else if (arg == "--wine-cli") {
            options.wineCli = value;
        } else if (arg == "--size" || arg == "--rate") {
            const int number = std::atoi(value.c_str());
            if (number <= 0 || number > 4096) return false;
            (arg == "--size" ? options.sizeMiB : options.rateMbit) = number;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: site_bench [--size MIB] [--rate MBIT] [--cli PATH] [--stages | --wine-cli EXE]\n");
        return 1;
    }
    // Everything below runs inside a private namespace with shaped links, or not at all.
    const std::string rate = std::to_string(options.rateMbit) + "mbit";
    simReexecInPrivateNamespace(argv, kMostDevices + 1, rate.c_str());
    if (!simInPrivateNamespace()) return 1;
    if (options.cli.empty()) options.cli = defaultCli();

    char folder[] = "/tmp/site-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    setenv("QUENTA_DRIVE_ROOT", folder, 1);
    const std::string package = std::string(folder) + "/QN通用升级包-2.4.1.quenta";
    PackageSpec spec;
    spec.modelList = "QN-H200";
    spec.version = "2.4.1";
    // The package is exactly SIZE MiB: the payload is what the trailer leaves.
    const int64_t wanted = static_cast<int64_t>(options.sizeMiB) * 1024 * 1024;
    spec.payloadSize = wanted - 4096;
    struct stat made {};
    if (makeLargePackageFile(package, spec) != 0 || stat(package.c_str(), &made) != 0) return 1;
    spec.payloadSize += wanted - made.st_size;
    if (made.st_size != wanted && makeLargePackageFile(package, spec) != 0) return 1;

    std::printf("site_bench: private namespace, links of %s per device address, package of %d MiB\n",
                rate.c_str(), options.sizeMiB);
    if (options.stages) {
        stagesFigures(package, options);
    } else if (!options.wineCli.empty()) {
        cliUpgradeFigures(folder, package, options);
    } else {
        queryFigures(package);
        lossFigures(package);
        upgradeFigures(package, options);
        memoryFigure(package, options.cli);
    }

    const std::string cleanup = std::string("rm -rf '") + folder + "'";
    if (std::system(cleanup.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", folder);
    std::printf("\n%s\n", allMet ? "every goal met" : "some goals MISSED");
    return allMet ? 0 : 2;
}
