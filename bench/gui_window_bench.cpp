// The window while a query lists 1000 devices: rows reach the flow the way the engine's handler
// thread delivers them (a blocking send per answering device into the flow's dispatcher, which the
// GUI thread drains), with the real window, list control and painting (offscreen when there is no
// display). Measures the GUI thread's longest stall (the longest gap between two ticks of a 1 ms
// timer) while the rows arrive, for a burst (as fast as the sends go) and at a paced rate of one
// device every 2 ms; then a run over the listed devices: every row passes 等待升级, 正在升级 (with its
// progress cell), 正在验证 and ends 升级完成 or 升级失败, the changes sent the way the engine's jobs
// send them, with the status line, the run line, a status filter and a sorted column live, and the
// chosen sort applied again at the end. Goal: under 50 ms. The GUI thread's CPU time within a gap is printed
// beside the wall-clock gap, so a machine busy with other work is told apart from a slow window.
//
//   gui_window_bench [rows]        (default 1000)
#include "engine/device_info.h"
#include "engine/device_list.h"
#include "engine/device_status.h"
#include "engine/list_glance.h"
#include "engine/upgrade_flow.h"
#include "sim/package_maker.h"

#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ui/quenta_upgradeDlg.h"

namespace {

DeviceInfo deviceInfo(int n) {
    DeviceInfo info;
    const int a = 2 + n / 250, b = 2 + n % 250;
    info.ip = "10." + std::to_string(a) + ".0." + std::to_string(b);
    info.model = n % 10 == 9 ? "QN-X999" : (n % 2 == 0 ? "QN-H200" : "QN-S210");
    info.platform = "hi3516a";
    info.softVersion = n % 3 == 0 ? "2.4.1" : "2.3.9";
    info.hardVersion = "HW-1.0";
    info.kernelVersion = "3.10.108";
    info.serialNum = "QNT2H2" + std::to_string(100000 + n);
    info.uploadPath = "C:\\Work/quenta/upload/QN_UPGRADE/upgrade.bin";
    info.master = 1;
    info.slave = n % 100;
    info.tcpSupport = 1;
    return info;
}

// CPU time the calling thread has used, in nanoseconds.
qint64 threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<qint64>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

struct Result {
    double maxStallMs = 0;     // wall clock: what the operator sees (includes time the machine gave others)
    double maxStallCpuMs = 0;  // GUI-thread CPU time between two ticks: the window's own work
    double totalMs = 0;
    int rows = 0;
};

// Feeds `rows` devices from a worker thread (pause between devices in microseconds) and measures.
Result run(Cquenta_upgradeDlg& dlg, int rows, int pauseUs) {
    UpgradeFlow& flow = dlg.flow();
    flow.OnBnClickedButtonClear();
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 maxGap = 0;
    qint64 lastCpu = threadCpuNs();
    qint64 maxCpuGap = 0;
    std::atomic<bool> done{false};
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const qint64 cpu = threadCpuNs();
        maxCpuGap = qMax(maxCpuGap, cpu - lastCpu);
        lastCpu = cpu;
        if (now - last > maxGap) {
            maxGap = now - last;
            if (std::getenv("GUI_BENCH_TRACE"))
                std::fprintf(stderr, "gap %.1f ms at row %d\n", maxGap / 1e6, flow.list().RowCount());
        }
        last = now;
    });
    tick.start(1);
    std::thread feeder([&] {
        for (int n = 0; n < rows; ++n) {
            const DeviceInfo info = deviceInfo(n);
            flow.dispatcher().send([&flow, info] { flow.UpdateIPList(info, false); });
            if (pauseUs > 0) std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
        }
        done.store(true);
    });
    while (!done.load()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    feeder.join();
    QCoreApplication::processEvents();
    tick.stop();
    Result result;
    result.maxStallMs = static_cast<double>(maxGap) / 1e6;
    result.maxStallCpuMs = static_cast<double>(maxCpuGap) / 1e6;
    result.totalMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    result.rows = flow.list().RowCount();
    return result;
}

// A run over every listed row: the statuses change from a worker thread through the dispatcher, one
// row after the other with `pauseUs` between two changes, as jobs report them.
Result runStatuses(Cquenta_upgradeDlg& dlg, int pauseUs) {
    UpgradeFlow& flow = dlg.flow();
    DeviceList& list = flow.list();
    std::vector<uint32_t> keys;
    for (int row = 0; row < list.RowCount(); ++row) {
        const int status = rowStatus(list, row);  // a second run starts from the first one's ends
        if (status == DEVICE_STATUS_UPGRADE_DONE || status == DEVICE_STATUS_UPGRADE_FAILED)
            setRowStatus(list, row, DEVICE_STATUS_CONNECTED);
        if (rowStatus(list, row) != DEVICE_STATUS_CONNECTED) continue;
        list.SetCheck(row, true);
        keys.push_back(list.GetOwnerKey(row));
    }
    list.OnHeaderClick(DEVICE_COLUMN_STATUS);      // a chosen sort, applied again at the end
    dlg.showStatus(DEVICE_STATUS_UPGRADE_FAILED);  // a filter, followed row by row
    flow.glance().beginRun();
    QCoreApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed(), maxGap = 0;
    qint64 lastCpu = threadCpuNs(), maxCpuGap = 0;
    std::atomic<bool> done{false};
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const qint64 cpu = threadCpuNs();
        maxCpuGap = qMax(maxCpuGap, cpu - lastCpu);
        lastCpu = cpu;
        maxGap = qMax(maxGap, now - last);
        last = now;
    });
    tick.start(1);
    auto setStatus = [&flow](uint32_t key, int status, int progress) {
        flow.dispatcher().send([&flow, key, status, progress] {
            DeviceList& l = flow.list();
            const int row = l.FindRowByOwnerKey(key);
            if (row < 0) return;
            setRowStatus(l, row, status);
            if (progress == 1) l.StartCellProgress(row);
            if (progress == 2) l.StopCellProgress(row);
        });
    };
    std::thread jobs([&] {
        const int stages[] = {DEVICE_STATUS_WAIT_UPGRADE, DEVICE_STATUS_UPGRADING, DEVICE_STATUS_VERIFYING};
        for (int stage = 0; stage < 4; ++stage) {
            for (size_t i = 0; i < keys.size(); ++i) {
                const int status =
                    stage < 3 ? stages[stage]
                              : (i % 13 == 5 ? DEVICE_STATUS_UPGRADE_FAILED : DEVICE_STATUS_UPGRADE_DONE);
                setStatus(keys[i], status, stage == 1 ? 1 : (stage == 2 ? 2 : 0));
                if (pauseUs > 0) std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
            }
        }
        flow.dispatcher().send([&flow] {
            flow.glance().endRun();
            flow.list().ReapplyChosenSort();
        });
        done.store(true);
    });
    while (!done.load()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    jobs.join();
    QCoreApplication::processEvents();
    tick.stop();
    dlg.showStatus(-1);
    Result result;
    result.maxStallMs = static_cast<double>(maxGap) / 1e6;
    result.maxStallCpuMs = static_cast<double>(maxCpuGap) / 1e6;
    result.totalMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    result.rows = static_cast<int>(keys.size()) * 4;
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    // Everything the window writes (drive paths) goes to a folder of its own.
    char folder[] = "/tmp/quenta-gui-bench.XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    setenv("QUENTA_DRIVE_ROOT", folder, 1);
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
        std::getenv("QT_QPA_PLATFORM") == nullptr) {
        // Offscreen on a 1920 x 1080 screen: on the plugin's own 800 x 600 one the window shrinks.
        const std::string config = std::string(folder) + "/screen.json";
        if (std::FILE* file = std::fopen(config.c_str(), "w")) {
            std::fputs(
                R"({ "screens": [ { "name": "bench", "x": 0, "y": 0, "width": 1920, "height": 1080 } ] })",
                file);
            std::fclose(file);
        }
        setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).c_str(), 1);
    }
    int status = 0;
    {
        QApplication app(argc, argv);
        Cquenta_upgradeDlg dlg;
        if (!dlg.initialised()) {
            std::fprintf(stderr, "gui_window_bench: the upgrade server could not start\n");
            return 1;
        }
        dlg.show();
        QCoreApplication::processEvents();
        PackageSpec spec;
        spec.modelList = "QN-H200,QN-S210";
        spec.version = "2.4.1";
        const std::string package = std::string(folder) + "/QN通用升级包-2.4.1.quenta";
        if (makePackageFile(package, spec) != 0 || dlg.flow().loadPackageFile(package) != 0) {
            std::fprintf(stderr, "gui_window_bench: cannot load the bench package\n");
            return 1;
        }
        dlg.syncFromState();
        QCoreApplication::processEvents();

        std::printf("gui_window_bench: %d devices listed by the window (%s)\n", rows,
                    qPrintable(QGuiApplication::platformName()));
        const Result burst = run(dlg, rows, 0);
        const Result paced = run(dlg, rows, 2000);
        for (const auto& [name, r] : {std::pair{"burst", burst}, std::pair{"paced 2 ms", paced}}) {
            std::printf(
                "  %-10s rows %4d  total %8.1f ms  %7.0f rows/s  longest GUI stall %6.1f ms wall, %5.1f ms "
                "GUI-thread CPU  (goal < 50 ms: %s)\n",
                name, r.rows, r.totalMs, r.rows / (r.totalMs / 1000.0), r.maxStallMs, r.maxStallCpuMs,
                r.maxStallMs < 50.0
                    ? "met"
                    : (r.maxStallCpuMs < 50.0 ? "missed on wall clock only: the machine was busy"
                                              : "MISSED"));
        }
        std::printf("  stall ratio paced/burst %.2f\n",
                    burst.maxStallMs > 0 ? paced.maxStallMs / burst.maxStallMs : 0.0);
        // The run: the rows change status with the status line, a filter and a sort live.
        for (const auto& [name, pause] : {std::pair{"run burst", 0}, std::pair{"run paced", 250}}) {
            const Result r = runStatuses(dlg, pause);
            std::printf(
                "  %-10s status changes %4d  total %8.1f ms  longest GUI stall %6.1f ms wall, %5.1f ms "
                "GUI-thread CPU  (goal < 50 ms: %s)\n",
                name, r.rows, r.totalMs, r.maxStallMs, r.maxStallCpuMs,
                r.maxStallMs < 50.0
                    ? "met"
                    : (r.maxStallCpuMs < 50.0 ? "missed on wall clock only: the machine was busy"
                                              : "MISSED"));
        }
        std::printf("  status line: %s\n", dlg.statusLine()->text().toStdString().c_str());
        status = burst.rows == rows && paced.rows == rows ? 0 : 1;
    }
    std::string cleanup = std::string("rm -rf '") + folder + "'";
    if (std::system(cleanup.c_str()) != 0)
        std::fprintf(stderr, "gui_window_bench: could not remove %s\n", folder);
    return status;
}
