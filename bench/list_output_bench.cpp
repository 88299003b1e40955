// Memory of writing a very large device list: 100,000 rows printed as the command line prints them
// (table, csv, json) and written as the run report (csv, json). Each form runs in a process of its
// own, so its peak resident size is its own; the list alone (the rows in memory, nothing written) is
// the baseline. Nothing reaches the network. Goal: every form under 100 MiB at its peak.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "engine/headless_ui.h"
#include "engine/list_output.h"
#include "engine/upgrade_flow.h"

namespace {

constexpr int kRows = 100000;

// The flow's list (its columns as the flow defines them, no server started) filled as a query of a
// large site leaves it: every column with a typical text. False when a cell was refused.
bool fill(UpgradeFlow& flow) {
    DeviceList& list = flow.list();
    if (!list.DefineColumns(buildDeviceColumnDescription())) return false;
    list.EnableChecks();
    int cells = 0;
    for (int i = 0; i < kRows; ++i) {
        const int row = list.InsertRow(i);
        const std::string ip = "10." + std::to_string(i >> 16) + "." + std::to_string((i >> 8) & 255) + "." +
                               std::to_string(i & 255);
        list.SetOwnerKey(row, static_cast<uint32_t>(0x0A000000 + i));
        setRowStatus(list, row, i % 10 == 0 ? DEVICE_STATUS_CONNECT_FAILED : DEVICE_STATUS_CONNECTED);
        cells += list.SetCellText(row, DEVICE_COLUMN_MASTER, std::to_string(i % 100));
        list.SetCellText(row, DEVICE_COLUMN_SLAVE, std::to_string(i % 7));
        list.SetCellText(row, DEVICE_COLUMN_IP, ip);
        list.SetCellText(row, DEVICE_COLUMN_MODEL, "QN-H200");
        list.SetCellText(row, DEVICE_COLUMN_SERIAL, "QNT2H2" + std::to_string(1000000 + i));
        list.SetCellText(row, DEVICE_COLUMN_SOFT_VERSION, "2.3.9");
        list.SetCellText(row, DEVICE_COLUMN_HARD_VERSION, "HW-1.0");
        list.SetCellText(row, DEVICE_COLUMN_KERNEL_VERSION, "3.10.108");
        list.SetCellText(row, DEVICE_COLUMN_PROTOCOL, "TCP");
        list.SetCheck(row, i % 2 == 0);
    }
    return cells == kRows && list.GetItemText(kRows - 1, DEVICE_COLUMN_PROTOCOL) == "TCP";
}

double peakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;  // KiB on Linux
}

// One form in a child process: "" for the list alone, a list format, or "report.csv"/"report.json".
int runForm(const std::string& form, const std::string& folder) {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        HeadlessUi ui;
        UpgradeFlow flow(ui);
        bool ok = fill(flow) && flow.list().RowCount() == kRows;
        const double listed = peakMiB();
        if (form.rfind("report.", 0) == 0) {
            std::string error;
            ok = ok && flow.writeReport(folder + "/" + form, error) == 0;
        } else if (!form.empty()) {
            std::FILE* out = std::fopen("/dev/null", "w");
            ok = ok && out != nullptr;
            if (out) {
                writeDeviceList(flow, form, out);
                ok = std::fflush(out) == 0 && !std::ferror(out);
                std::fclose(out);
            }
        }
        const double peak = peakMiB();
        std::printf("%-12s peak %7.1f MiB  (list alone %6.1f MiB, writing added %6.1f MiB)%s%s\n",
                    form.empty() ? "(list only)" : form.c_str(), peak, listed, peak - listed,
                    peak < 100.0 ? "" : "  OVER 100 MiB", ok ? "" : "  FAILED");
        std::fflush(stdout);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main() {
    char folder[] = "/tmp/list-output-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    std::printf("%d rows\n", kRows);
    std::fflush(stdout);  // before the children inherit the buffer
    int failed = 0;
    for (const char* form : {"", "table", "csv", "json", "report.csv", "report.json"})
        failed += runForm(form, folder) != 0;
    for (const char* name : {"report.csv", "report.json"})
        std::remove((std::string(folder) + "/" + name).c_str());
    rmdir(folder);
    return failed == 0 ? 0 : 1;
}
