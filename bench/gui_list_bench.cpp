// Device list control under a query's load: 1000 rows arrive one by one, each written as the flow
// writes an answering device (InsertRow, the texts of every column, the status with its colours, a
// locked check box for the devices that do not fit), while a 5 ms timer measures how late the event
// loop serves it. Then the list is sorted by every column, each sort timed with its repaint.
// Runs offscreen. Goals: event-loop lateness < 50 ms, each sort < 100 ms.
#include <time.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHeaderView>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "ui/CReportCtrl.h"

namespace {

constexpr int kRows = 1000;

// CPU time of the calling (GUI) thread: unlike wall time, not inflated by other processes' load.
double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double loadAverage() {
    double load = -1;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1) load = -1;
        std::fclose(f);
    }
    return load;
}

// How late a periodic timer fires (wall time), and how much GUI-thread CPU time passed between two
// ticks beyond the interval: the part of the lateness that the list's own work causes (the rest is
// other processes holding the CPU).
struct Lateness {
    QElapsedTimer clock;
    qint64 last = -1;
    double lastCpu = 0;
    qint64 worst = 0;
    qint64 total = 0;
    double worstCpu = 0;
    int ticks = 0;
    void tick(int intervalMs) {
        const qint64 now = clock.nsecsElapsed();
        const double cpu = threadCpuMs();
        if (last >= 0) {
            const qint64 late = std::max<qint64>(0, now - last - intervalMs * 1000000LL);
            worst = std::max(worst, late);
            total += late;
            worstCpu = std::max(worstCpu, cpu - lastCpu - intervalMs > 0 ? cpu - lastCpu - intervalMs : 0.0);
            ++ticks;
        }
        last = now;
        lastCpu = cpu;
    }
    double worstMs() const { return worst / 1e6; }
    double meanMs() const { return ticks ? total / 1e6 / ticks : 0.0; }
};

// What UpdateIPList writes for one answering device.
void writeDevice(DeviceList& list, int i, std::mt19937& random) {
    const int row = list.InsertRow(list.RowCount());
    const uint32_t key = 0x0A000000u | static_cast<uint32_t>(i + 1);
    list.SetOwnerKey(row, key);
    const int master = static_cast<int>(random() % 40);
    list.SetCellText(row, DEVICE_COLUMN_MASTER, master > 0 ? std::to_string(master) : "N/A");
    list.SetCellText(row, DEVICE_COLUMN_SLAVE, std::to_string(random() % 300));
    list.SetCellText(row, DEVICE_COLUMN_IP,
                     "10." + std::to_string(i / 250) + "." + std::to_string(i % 250) + ".7");
    list.SetCellText(row, DEVICE_COLUMN_MODEL, "QN-M" + std::to_string(100 + random() % 12));
    char serial[32];
    std::snprintf(serial, sizeof serial, "%08X%04X", static_cast<unsigned>(random()),
                  static_cast<unsigned>(i));
    list.SetCellText(row, DEVICE_COLUMN_SERIAL, serial);
    list.SetCellText(row, DEVICE_COLUMN_SOFT_VERSION,
                     "V1." + std::to_string(random() % 12) + "." + std::to_string(i % 7));
    list.SetCellText(row, DEVICE_COLUMN_HARD_VERSION,
                     std::to_string(random() % 5) + "." + std::to_string(random() % 10));
    char kernel[32];
    std::snprintf(kernel, sizeof kernel, "2024-%02d-%02d 12:%02d", 1 + i % 12, 1 + i % 28, i % 60);
    list.SetCellText(row, DEVICE_COLUMN_KERNEL_VERSION, kernel);
    list.SetCellText(row, DEVICE_COLUMN_PROTOCOL, random() % 4 ? "TCP" : "UDP");
    if (i % 7 == 3) {
        setRowStatus(list, row, i % 2 ? DEVICE_STATUS_INVALID_MODEL : DEVICE_STATUS_PLATFORM_MISMATCH);
        list.LockRowCheck(row);
        list.SetCheck(row, false);
    } else {
        setRowStatus(list, row, DEVICE_STATUS_CONNECTED);
        list.SetCheck(row, true);
    }
}

struct InsertFigures {
    double totalMs;
    double cpuMs;
    double worstLateMs;
    double meanLateMs;
    double worstCpuLateMs;
};

// Rows are posted by a worker thread (as the engine's handler hands them to the window's thread),
// one every pauseUs microseconds (0 = all at once), and written on the GUI thread.
InsertFigures insertRows(CReportCtrl& control, int pauseUs) {
    DeviceList& list = control.list();
    list.DeleteAllRows();
    std::mt19937 random(7);
    Lateness lateness;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] { lateness.tick(5); });
    std::atomic<int> written{0};
    QEventLoop loop;  // the GUI thread sleeps while nothing is pending, as in the window

    QElapsedTimer total;
    total.start();
    const double cpuStart = threadCpuMs();
    lateness.clock.start();
    timer.start();
    std::thread poster([&] {
        for (int i = 0; i < kRows; ++i) {
            QMetaObject::invokeMethod(
                &control,
                [&, i] {
                    writeDevice(list, i, random);
                    if (written.fetch_add(1) + 1 == kRows) QTimer::singleShot(0, &loop, &QEventLoop::quit);
                },
                Qt::QueuedConnection);
            if (pauseUs > 0) std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
        }
    });
    loop.exec();
    const double totalMs = total.nsecsElapsed() / 1e6;
    const double cpuMs = threadCpuMs() - cpuStart;
    timer.stop();
    poster.join();
    return {totalMs, cpuMs, lateness.worstMs(), lateness.meanMs(), lateness.worstCpu};
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CReportCtrl control;
    control.DefineColumns(buildDeviceColumnDescription());
    control.EnableChecks();
    control.resize(1350, 450);
    control.show();
    app.processEvents();

    std::printf("device list control, %d rows, platform %s, load average %.1f\n", kRows,
                qPrintable(QApplication::platformName()), loadAverage());
    std::printf("%-34s %10s %14s %14s %18s %7s\n", "insert phase", "total ms", "worst late ms",
                "mean late ms", "own cpu late ms", "goal");
    struct Phase {
        const char* name;
        int pauseUs;
    };
    for (const Phase& phase :
         {Phase{"paced, one row per ms", 1000}, Phase{"burst, all rows posted at once", 0}}) {
        const InsertFigures f = insertRows(control, phase.pauseUs);
        std::printf("%-34s %10.1f %14.2f %14.3f %18.2f %7s\n", phase.name, f.totalMs, f.worstLateMs,
                    f.meanLateMs, f.worstCpuLateMs, f.worstLateMs < 50.0 ? "met" : "MISSED");
        std::printf("%-34s %10.1f GUI-thread cpu ms (%.1f us per row, painting included)\n", "", f.cpuMs,
                    f.cpuMs * 1000.0 / kRows);
    }

    // Writing one device row alone (no event loop), GUI-thread CPU time.
    {
        DeviceList& rows = control.list();
        rows.DeleteAllRows();
        std::mt19937 random(11);
        const double start = threadCpuMs();
        for (int i = 0; i < kRows; ++i) writeDevice(rows, i, random);
        const double cpu = threadCpuMs() - start;
        app.processEvents();
        std::printf("%-34s %10.1f cpu ms, %.1f us per row (model signals included, painting not)\n",
                    "write rows, no event loop", cpu, cpu * 1000.0 / kRows);
    }

    std::printf("\n%-10s %-12s %12s %12s %12s %8s\n", "column", "heading", "asc ms", "desc ms", "sort cpu ms",
                "goal");
    DeviceList& list = control.list();
    double worstSort = 0;
    for (int column = 0; column < list.ColumnCount(); ++column) {
        double ms[2];
        double sortCpu = 0;
        for (int pass = 0; pass < 2; ++pass) {
            QElapsedTimer t;
            t.start();
            const double cpu = threadCpuMs();
            list.OnHeaderClick(column);  // first ascending, then descending
            sortCpu = std::max(sortCpu, threadCpuMs() - cpu);
            app.processEvents();  // the repaint that follows
            ms[pass] = t.nsecsElapsed() / 1e6;
            worstSort = std::max(worstSort, ms[pass]);
        }
        std::printf("%-10d %-12s %12.2f %12.2f %12.2f %8s\n", column, list.Column(column)->heading.c_str(),
                    ms[0], ms[1], sortCpu, std::max(ms[0], ms[1]) < 100.0 ? "met" : "MISSED");
    }
    std::printf("worst sort %.2f ms against the goal of 100 ms (ratio %.2f)\n", worstSort, worstSort / 100.0);
    return 0;
}
