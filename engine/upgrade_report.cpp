#include "engine/upgrade_report.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

#include "engine/device_status.h"
#include "engine/flow_text.h"
#include "engine/record_table_json.h"
#include "protocol/ss_pair.h"
#include "ss/ss_platform.h"

namespace {

std::string csvLine(const std::vector<std::string>& fields) {
    return csvRecord(FieldRow(fields.begin(), fields.end()), "\r\n");
}

std::filesystem::path pathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

bool endsWithJson(const std::string& path) {
    if (path.size() < 5) return false;
    std::string tail = path.substr(path.size() - 5);
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".json";
}

}  // namespace

std::string reportOutcome(const ReportDevice& device) {
    return device.status.empty() ? device.reasonText : device.status;
}

namespace {

// Counts outcomes as the devices are written; the statuses in the table's order, then the others.
class OutcomeCounter {
  public:
    void add(const ReportDevice& device) {
        const std::string outcome = reportOutcome(device);
        for (auto& entry : counts_) {
            if (entry.first == outcome) {
                ++entry.second;
                return;
            }
        }
        counts_.emplace_back(outcome, 1);
    }
    std::vector<std::pair<std::string, int>> ordered() const {
        std::vector<std::pair<std::string, int>> result;
        std::vector<bool> taken(counts_.size(), false);
        for (int code = 0; code < DEVICE_STATUS_COUNT; ++code) {
            for (size_t i = 0; i < counts_.size(); ++i) {
                if (taken[i] || counts_[i].first != deviceStatusEntry(code)->text) continue;
                taken[i] = true;
                result.push_back(counts_[i]);
            }
        }
        for (size_t i = 0; i < counts_.size(); ++i)
            if (!taken[i]) result.push_back(counts_[i]);
        return result;
    }

  private:
    std::vector<std::pair<std::string, int>> counts_;
};

}  // namespace

std::vector<std::pair<std::string, int>> reportOutcomeCounts(const ReportRows& devices) {
    OutcomeCounter counter;
    for (size_t i = 0; i < devices.count; ++i) counter.add(devices.at(i));
    return counter.ordered();
}

ReportRows reportRowsOf(const RunReport& report) {
    return {report.devices.size(), [&report](size_t i) { return report.devices[i]; }};
}

void writeReportCsv(const RunReport& r, const ReportRows& devices, const TextSink& write) {
    write("\xEF\xBB\xBF");
    write(csvLine({"升级包", r.packageFile}));
    write(csvLine({"版本", r.packageVersion}));
    write(csvLine({"类型", r.packageKind}));
    write(csvLine({"MD5", r.packageMd5}));
    write(csvLine({"地址盒IP", r.addressBox}));
    write(csvLine({"开始时间", r.startTime}));
    write(csvLine({"结束时间", r.endTime}));
    write(csvLine({"主机", r.hostName}));
    write(csvLine({"工具版本", r.toolVersion}));
    write(csvLine({"运行停止", r.runStop.empty() ? std::string("否") : r.runStop}));
    write("\r\n");
    write(csvHeadings(reportDeviceFields(), false, "\r\n"));
    OutcomeCounter counter;
    for (size_t i = 0; i < devices.count; ++i) {
        const ReportDevice device = devices.at(i);
        counter.add(device);
        write(csvRecord(reportDeviceRow(device), "\r\n"));
    }
    // The counts per outcome close the file.
    write("\r\n");
    write(csvLine({"结果", "台数"}));
    for (const auto& [outcome, count] : counter.ordered()) write(csvLine({outcome, std::to_string(count)}));
    write(csvLine({"合计", std::to_string(devices.count)}));
}

void writeReportJson(const RunReport& r, const ReportRows& devices, const TextSink& write) {
    nlohmann::ordered_json head;
    head["package"] = {{"file", r.packageFile},
                       {"version", r.packageVersion},
                       {"kind", r.packageKind},
                       {"md5", r.packageMd5}};
    head["addressBox"] = r.addressBox;
    head["startTime"] = r.startTime;
    head["endTime"] = r.endTime;
    head["host"] = r.hostName;
    head["toolVersion"] = r.toolVersion;
    head["runStop"] = r.runStop;
    // Texts that are not valid UTF-8 (a device's odd bytes) are replaced, never a failure. The head
    // without its closing "\n}", then the devices row by row as the last member.
    const std::string text = jsonText(head);
    write(std::string_view(text).substr(0, text.size() - 2));
    write(",\n  \"devices\": ");
    OutcomeCounter counter;
    writeJsonRecords(
        reportDeviceFields(), devices.count,
        [&devices, &counter](size_t i) {
            const ReportDevice device = devices.at(i);
            counter.add(device);
            return reportDeviceRow(device);
        },
        1, write);
    // The counts per outcome close the document: [{"outcome": "升级完成", "count": 3}, ...], "total".
    nlohmann::ordered_json tail;
    tail["counts"] = nlohmann::ordered_json::array();
    for (const auto& [outcome, count] : counter.ordered())
        tail["counts"].push_back({{"outcome", outcome}, {"count", count}});
    tail["total"] = devices.count;
    const std::string tailText = jsonText(tail);  // "{\n  ...\n}": its members go on at the document's level
    write(",\n");
    write(std::string_view(tailText).substr(2));
    write("\n");
}

std::string reportToCsv(const RunReport& report) {
    std::string text;
    writeReportCsv(report, reportRowsOf(report), [&text](std::string_view piece) { text.append(piece); });
    return text;
}

std::string reportToJson(const RunReport& report) {
    std::string text;
    writeReportJson(report, reportRowsOf(report), [&text](std::string_view piece) { text.append(piece); });
    return text;
}

namespace {

enum class TargetKind { absent, regular, other };

// What the report's path names now, links followed. A link that leads nowhere is no new name.
TargetKind targetKind(const std::filesystem::path& path) {
    std::error_code error;
    const std::filesystem::file_type type = std::filesystem::status(path, error).type();
    if (type == std::filesystem::file_type::regular) return TargetKind::regular;
    if (type != std::filesystem::file_type::not_found) return TargetKind::other;
    const std::filesystem::file_type own = std::filesystem::symlink_status(path, error).type();
    return own == std::filesystem::file_type::not_found ? TargetKind::absent : TargetKind::other;
}

// A temporary name beside the target that is free or holds a regular file (a stale one of ours);
// never a name where a FIFO, a device or a folder sits. Empty when none of a hundred is.
std::filesystem::path temporaryBeside(const std::filesystem::path& target) {
    for (int n = 0; n < 100; ++n) {
        std::filesystem::path candidate = target;
        candidate += n == 0 ? std::string(".part") : "." + std::to_string(n) + ".part";
        std::error_code error;
        const std::filesystem::file_type type = std::filesystem::symlink_status(candidate, error).type();
        if (type == std::filesystem::file_type::not_found || type == std::filesystem::file_type::regular)
            return candidate;
    }
    return {};
}

}  // namespace

int writeReportFile(const RunReport& report, const ReportRows& devices, const std::string& utf8Path,
                    std::string& utf8Error) {
    if (utf8Path.empty()) {
        utf8Error = "报告文件名为空";
        return -1;
    }
    const std::string notRegular = "报告只能写到普通文件或新文件，不会替换：" + utf8Path;
    const std::string notWritten = "无法写入报告文件：" + utf8Path;
    std::filesystem::path target = pathOf(utf8Path);
    // A regular file reached through a link is replaced itself; the link stays.
    switch (targetKind(target)) {
        case TargetKind::other:
            utf8Error = notRegular;
            return -1;
        case TargetKind::regular: {
            std::error_code error;
            std::filesystem::path real = std::filesystem::canonical(target, error);
            if (!error) target = real;
            break;
        }
        case TargetKind::absent:
            break;
    }
    const std::filesystem::path temporary = temporaryBeside(target);
    if (temporary.empty()) {
        utf8Error = notWritten;
        return -1;
    }
    std::error_code error;
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (file) {
            const TextSink sink = [&file](std::string_view piece) {
                file.write(piece.data(), static_cast<std::streamsize>(piece.size()));
            };
            if (endsWithJson(utf8Path))
                writeReportJson(report, devices, sink);
            else
                writeReportCsv(report, devices, sink);
            file.flush();
        }
        if (!file) {
            file.close();
            std::filesystem::remove(temporary, error);
            utf8Error = notWritten;
            return -1;
        }
    }
    // The node may have changed while the report was written: checked again just before it is replaced.
    if (targetKind(target) == TargetKind::other) {
        std::filesystem::remove(temporary, error);
        utf8Error = notRegular;
        return -1;
    }
    std::filesystem::rename(temporary, target, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        utf8Error = notWritten;
        return -1;
    }
    return 0;
}

std::string reportHostName() {
    return ss_platform_hostName();
}

std::string runSummaryText(const RunSummary& s, const std::string& utf8RetryWay) {
    std::string text = std::string(s.cancelled ? flowtext::kUpgradeCancelled : flowtext::kUpgradeDone) + "\n";
    text += formatString("成功：%d 台\n失败：%d 台\n未验证：%d 台", s.succeeded, s.failed, s.notVerified);
    if (s.cancelled) text += formatString("\n未升级：%d 台", s.notStarted);
    if (s.failed > s.onSite) text += "\n失败的设备可以用" + utf8RetryWay + "再次升级。";
    if (s.onSite > 0) text += formatString("\n%d 台失败的设备需要现场处理。", s.onSite);
    if (!s.reportPath.empty())
        text += "\n" + formatString(flowtext::kReportSaved, s.reportPath.c_str());
    else if (!s.reportError.empty())
        text += "\n" + formatString(flowtext::kReportNotSaved, s.reportError.c_str());
    return text;
}

std::string runReportFileName(const std::string& addressBox, const std::string& startTime) {
    std::string name = addressBox.empty() ? std::string("report") : addressBox;
    std::string stamp;
    for (char c : startTime) {
        if (c >= '0' && c <= '9')
            stamp += c;
        else if (c == ' ')
            stamp += '_';
    }
    if (!stamp.empty()) name += "_" + stamp;
    for (char& c : name)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
              c == '-'))
            c = '_';
    return name + ".csv";
}

int saveRunReport(const RunReport& head, const ReportRows& devices, const std::string& utf8Folder,
                  std::string& utf8Path, std::string& utf8Error) {
    std::error_code error;
    const std::filesystem::path folder = pathOf(utf8Folder);
    std::filesystem::create_directories(folder, error);
    if (utf8Folder.empty() || !std::filesystem::is_directory(folder, error)) {
        utf8Error = "无法创建报告文件夹：" + utf8Folder;
        return -1;
    }
    const std::string name =
        runReportFileName(head.addressBox, head.startTime.empty() ? head.endTime : head.startTime);
    const std::string stem = name.substr(0, name.size() - 4);
    // "/" separates on every system; the folder's own spelling is kept.
    const char last = utf8Folder.back();
    const std::string prefix = last == '/' || last == '\\' ? utf8Folder : utf8Folder + "/";
    for (int n = 1; n <= 1000; ++n) {
        const std::string candidate = prefix + (n == 1 ? name : stem + "_" + std::to_string(n) + ".csv");
        if (std::filesystem::symlink_status(pathOf(candidate), error).type() !=
            std::filesystem::file_type::not_found)
            continue;
        utf8Path = candidate;
        return writeReportFile(head, devices, utf8Path, utf8Error);
    }
    utf8Error = "无法写入报告文件：" + prefix + name;
    return -1;
}

const std::vector<FieldSpec>& deviceListFields() {
    static const std::vector<FieldSpec> fields = {
        {"checked", "选择"},
        {"status", "状态"},
        {"master", "主机号"},
        {"slave", "分机号"},
        {"ip", "IP地址"},
        {"model", "产品型号"},
        {"serial", "序列号"},
        {"softVersion", "软件版本"},
        {"hardVersion", "硬件版本"},
        {"kernelVersion", "内核版本"},
        {"protocol", "协议"},
        {"reason", "reason"},
        {"reasonText", "原因"},
    };
    return fields;
}

const std::vector<FieldSpec>& reportDeviceFields() {
    static const std::vector<FieldSpec> fields = {
        {"ip", "IP地址"},
        {"model", "产品型号"},
        {"serial", "序列号"},
        {"master", "主机号"},
        {"slave", "分机号"},
        {"versionBefore", "升级前版本"},
        {"versionAfter", "升级后版本"},
        {"status", "状态"},
        {"reason", "reason"},
        {"reasonText", "原因"},
        {"reasonKind", "reasonKind"},
        {"reasonKindText", "处理方式"},
        {"startTime", "开始时间"},
        {"endTime", "结束时间"},
        {"bytesSent", "发送字节数"},
        {"firstDevice", "首批设备"},
        {"notStarted", "未升级原因"},
    };
    return fields;
}

FieldRow reportDeviceRow(const ReportDevice& d) {
    return {d.ip,           d.model,      d.serialNum,
            d.master,       d.slave,      d.versionBefore,
            d.versionAfter, d.status,     d.reason,
            d.reasonText,   d.reasonKind, d.reasonKindText,
            d.startTime,    d.endTime,    static_cast<std::int64_t>(d.bytesSent),
            d.firstDevice,  d.notStarted};
}
