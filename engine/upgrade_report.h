// The report of a run that a technician hands over: the package, the address box, the run's times,
// the host and the tool, one line per device (address, model, serial number, master/slave, version
// before and after, status, reason and its kind, times, bytes sent) and at the end the count of devices
// per outcome. Written as CSV (UTF-8 with BOM, so a spreadsheet shows the Chinese correctly) or JSON.
// Also the end-of-run summary's counts and text, and where a run's own report is kept.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/front_end_text.h"
#include "engine/record_table.h"
#include "quenta_version.h"

// The version the report names: the one every program prints for --version.
inline constexpr const char* kToolVersion = kQuentaVersion;

struct ReportDevice {
    std::string ip, model, serialNum, master, slave;  // UTF-8, as the list shows them
    std::string versionBefore, versionAfter;
    std::string status;              // the status text
    std::string reason, reasonText;  // stable English code and Chinese text; empty when none
    std::string startTime, endTime;  // "YYYY-MM-DD HH:MM:SS" local time (ss_platform_localTimeText)
    std::int64_t bytesSent = 0;
    std::string reasonKind, reasonKindText;  // failureKindCode / failureKindText; empty when none
    bool firstDevice = false;                // a first device of a run in stages
    std::string notStarted;  // why the run did not start it (UTF-8); empty when it did or was not in it
};

struct ReportRows;

// The outcome a device is counted under at the report's end: its status, or its reason's text when
// it has no row (answered without the keys a row needs).
std::string reportOutcome(const ReportDevice& device);
// The counts per outcome of `devices`: the statuses in the status table's order, then any other.
std::vector<std::pair<std::string, int>> reportOutcomeCounts(const ReportRows& devices);

struct RunReport {
    std::string packageFile, packageVersion, packageKind, packageMd5;  // UTF-8; MD5 in lower-case hex
    std::string addressBox;
    std::string startTime, endTime;  // of the last run; empty when none ran
    std::string hostName;
    std::string toolVersion = kToolVersion;
    std::string runStop;  // whether and why the last run stopped (UTF-8); empty: it did not
    std::vector<ReportDevice> devices;
};

// The devices of a report produced one at a time, so a list of any length is never copied whole.
struct ReportRows {
    size_t count = 0;
    std::function<ReportDevice(size_t)> at;
};
// The devices a report holds itself (it must outlive the rows).
ReportRows reportRowsOf(const RunReport& report);

// The command line's device list: the list's columns (check state as a boolean) and the row's reason.
const std::vector<FieldSpec>& deviceListFields();

// The report's key table (JSON keys, CSV headings) and one device's values in that order.
const std::vector<FieldSpec>& reportDeviceFields();
FieldRow reportDeviceRow(const ReportDevice& device);

// The file content, written piece by piece (the devices one at a time), or as one text.
// `head` gives the package, address box, times, host and tool; `devices` the lines (head.devices is
// not used).
void writeReportCsv(const RunReport& head, const ReportRows& devices,
                    const TextSink& write);  // UTF-8 BOM first
void writeReportJson(const RunReport& head, const ReportRows& devices, const TextSink& write);
std::string reportToCsv(const RunReport& report);
std::string reportToJson(const RunReport& report);
// Writes the report as JSON when the path ends in ".json" (any case), else as CSV, through a
// temporary file beside it that replaces the target only when complete. Only a regular file (also
// one a link names: that file is replaced, the link stays) or a new name is written; a FIFO, a device,
// a folder is refused and left alone. 0, or -1 with a Chinese message in utf8Error (the target is then
// unchanged).
int writeReportFile(const RunReport& head, const ReportRows& devices, const std::string& utf8Path,
                    std::string& utf8Error);
inline int writeReportFile(const RunReport& report, const std::string& utf8Path, std::string& utf8Error) {
    return writeReportFile(report, reportRowsOf(report), utf8Path, utf8Error);
}

// The name of a run's own report: "<address box>_<YYYYMMDD>_<HHMMSS>.csv" from the run's start time
// ("YYYY-MM-DD HH:MM:SS"); characters a file name cannot hold become "_".
std::string runReportFileName(const std::string& addressBox, const std::string& startTime);
// Saves a run's report as CSV in `utf8Folder` (made when missing) under runReportFileName, with
// "_2", "_3", ... before ".csv" when the name is taken (a run without a start time: its end time). 0 with the
// file's path, or -1 with the message.
int saveRunReport(const RunReport& head, const ReportRows& devices, const std::string& utf8Folder,
                  std::string& utf8Path, std::string& utf8Error);

// The machine's host name; empty when unknown.
std::string reportHostName();

struct RunSummary {
    int succeeded = 0;    // 升级完成, verified (or verification off)
    int failed = 0;       // 升级失败
    int notVerified = 0;  // 未验证 (cancelled while watched, or no port to watch)
    int onSite = 0;       // of the failed: those that need a person on site (not retried)
    bool cancelled = false;
    int notStarted = 0;       // ticked for the run but never started (a cancel sent them back)
    std::string reportPath;   // UTF-8: where the run's own report was saved
    std::string reportError;  // UTF-8: why it was not saved (reportPath empty)
};
// "升级完成！" (or "升级已取消" with "未升级：n 台") and the counts, one per line; with failures worth
// retrying the hint that they can be retried the front end's way ("失败的设备可以用<way>再次升级。"),
// with failures that need a person on site their count; last where the report was saved.
std::string runSummaryText(const RunSummary& summary,
                           const std::string& utf8RetryWay = flowtext::kRetryByListMenu);
