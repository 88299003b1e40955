#include "cli/cli_flow.h"

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include "engine/device_list.h"
#include "engine/device_status.h"
#include "engine/headless_ui.h"
#include "engine/upgrade_flow.h"
#include "engine/upgrade_report.h"
#include "package/package_load.h"
#include "protocol/ss_pair.h"
#include "ss/ss_platform.h"

namespace {

struct Options {
    bool upgrade = false;
    std::string package, addressBox, format = "table";
    std::vector<std::string> models, ips;
    bool modelsGiven = false, showFailed = false, all = false, quiet = false;
    bool verify = true, recover = false;
    int verifyTimeoutSeconds = 300, retries = 0;
    std::string report;  // --report FILE.csv|FILE.json
};

const char kQueryUsage[] =
    "usage: quenta-upgrade-cli query --package P --address-box IP [--models M1,M2] [--show-failed]\n"
    "                                [--recover] [--report FILE.csv|FILE.json]\n"
    "                                [--format table|csv|json] [--quiet]\n";
const char kUpgradeUsage[] =
    "usage: quenta-upgrade-cli upgrade --package P --address-box IP [--models M1,M2] [--all] [--recover]\n"
    "                                  [--no-verify] [--verify-timeout SECONDS] [--retry N]\n"
    "                                  [--report FILE.csv|FILE.json] [--format table|csv|json] [--quiet]\n"
    "       quenta-upgrade-cli upgrade --package P --address-box IP --ip A [--ip B ...] [--format ...]\n"
    "The version is verified after the reboot (default 300 s per device); exit 0 all upgraded,\n"
    "2 any failed, 1 refused or the report could not be written.\n";

// A non-negative decimal number within `max`.
bool number(const std::string& text, int max, int& out) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::stoi(text);
    return out <= max;
}

// 0 parsed, 1 help shown, -1 bad arguments.
int parse(int argc, char** argv, Options& options, std::FILE* out, std::FILE* err) {
    const char* usage = options.upgrade ? kUpgradeUsage : kQueryUsage;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= argc) return false;
            target = argv[++i];
            return true;
        };
        bool ok = true;
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, out);
            return 1;
        } else if (arg == "--package") {
            ok = value(options.package);
        } else if (arg == "--address-box") {
            ok = value(options.addressBox);
        } else if (arg == "--format") {
            ok = value(options.format) &&
                 (options.format == "table" || options.format == "csv" || options.format == "json");
        } else if (arg == "--models") {
            std::string list;
            ok = value(list);
            options.modelsGiven = true;
            for (auto& model : splitString(list.c_str(), ",")) options.models.push_back(model);
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--show-failed" && !options.upgrade) {
            options.showFailed = true;
        } else if (arg == "--all" && options.upgrade) {
            options.all = true;
        } else if (arg == "--recover") {
            options.recover = true;
        } else if (arg == "--report") {
            ok = value(options.report) && !options.report.empty();
        } else if (arg == "--no-verify" && options.upgrade) {
            options.verify = false;
        } else if (arg == "--verify-timeout" && options.upgrade) {
            std::string text;
            ok = value(text) && number(text, 86400, options.verifyTimeoutSeconds) &&
                 options.verifyTimeoutSeconds > 0;
        } else if (arg == "--retry" && options.upgrade) {
            std::string text;
            ok = value(text) && number(text, 100, options.retries);
        } else if (arg == "--ip" && options.upgrade) {
            std::string ip;
            ok = value(ip);
            options.ips.push_back(ip);
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(err, "quenta-upgrade-cli: bad argument '%s'\n%s", arg.c_str(), usage);
            return -1;
        }
    }
    if (options.package.empty() || options.addressBox.empty()) {
        std::fputs(usage, err);
        return -1;
    }
    return 0;
}

// Upload progress and status changes on stderr.
class ProgressPrinter : public DeviceListObserver {
  public:
    ProgressPrinter(DeviceList& list, std::FILE* stream) : list_(list), stream_(stream) {}
    void progressChanged(int row, int column) override {
        const PROGRESS_DATA* data = list_.CellProgress(row, column);
        if (data == nullptr || !data->inUse) return;
        std::string ip = list_.GetItemText(row, DEVICE_COLUMN_IP);
        auto& last = percent_[ip];
        if (last == data->percent + 1) return;
        last = data->percent + 1;
        std::fprintf(stream_, "%s %d%%\n", ip.c_str(), data->percent);
    }
    void cellsChanged(int row, int first, int last) override {
        if (first > DEVICE_COLUMN_STATUS || last < DEVICE_COLUMN_STATUS) return;
        int code = rowStatus(list_, row);
        if (code == DEVICE_STATUS_UPGRADING || code == DEVICE_STATUS_UPGRADE_DONE ||
            code == DEVICE_STATUS_UPGRADE_FAILED) {
            std::fprintf(stream_, "%s %s\n", list_.GetItemText(row, DEVICE_COLUMN_IP).c_str(),
                         list_.GetItemText(row, DEVICE_COLUMN_STATUS).c_str());
        }
    }

  private:
    DeviceList& list_;
    std::FILE* stream_;
    std::map<std::string, int> percent_;
};

const char* const kJsonKeys[] = {"checked", "status",      "master",      "slave",         "ip",      "model",
                                 "serial",  "softVersion", "hardVersion", "kernelVersion", "protocol"};

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

// Display width of a UTF-8 text: CJK characters take two columns.
int displayWidth(const std::string& text) {
    int width = 0;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        int length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        width += length >= 3 ? 2 : 1;
        i += length;
    }
    return width;
}

void printList(UpgradeFlow& flow, const std::string& format, std::FILE* out) {
    DeviceList& list = flow.list();
    const int rows = list.RowCount();
    auto cell = [&](int row, int column) -> std::string {
        if (column == DEVICE_COLUMN_CHECK) return list.GetCheck(row) ? "true" : "false";
        return list.GetItemText(row, column);
    };
    if (format == "json") {
        nlohmann::ordered_json array = nlohmann::ordered_json::array();
        for (int row = 0; row < rows; ++row) {
            nlohmann::ordered_json object;
            object[kJsonKeys[0]] = list.GetCheck(row);
            for (int column = 1; column < DEVICE_COLUMN_COUNT; ++column)
                object[kJsonKeys[column]] = cell(row, column);
            RowReason reason = flow.rowReason(row);
            object["reason"] = failureReasonCode(reason.reason);
            object["reasonText"] = failureReasonText(reason);
            array.push_back(std::move(object));
        }
        std::fputs(array.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str(), out);
        std::fputc('\n', out);
        return;
    }
    if (format == "csv") {
        for (int column = 0; column < DEVICE_COLUMN_COUNT; ++column)
            std::fprintf(out, "%s%s", column == 0 ? "" : ",", kJsonKeys[column]);
        std::fputs(",reason,reasonText\n", out);
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < DEVICE_COLUMN_COUNT; ++column)
                std::fprintf(out, "%s%s", column == 0 ? "" : ",", csvField(cell(row, column)).c_str());
            RowReason reason = flow.rowReason(row);
            std::fprintf(out, ",%s,%s\n", failureReasonCode(reason.reason),
                         csvField(failureReasonText(reason)).c_str());
        }
        return;
    }
    std::vector<int> widths(DEVICE_COLUMN_COUNT, 0);
    auto heading = [&](int column) { return std::string(deviceColumnSpec(column)->heading); };
    auto tableCell = [&](int row, int column) -> std::string {
        if (column == DEVICE_COLUMN_CHECK) return list.GetCheck(row) ? "[x]" : "[ ]";
        return list.GetItemText(row, column);
    };
    for (int column = 0; column < DEVICE_COLUMN_COUNT; ++column) {
        widths[column] = displayWidth(heading(column));
        for (int row = 0; row < rows; ++row)
            widths[column] = std::max(widths[column], displayWidth(tableCell(row, column)));
    }
    auto printCell = [&](const std::string& text, int column) {
        std::fputs(text.c_str(), out);
        if (column + 1 < DEVICE_COLUMN_COUNT)
            for (int pad = displayWidth(text); pad < widths[column] + 2; ++pad) std::fputc(' ', out);
    };
    for (int column = 0; column < DEVICE_COLUMN_COUNT; ++column) printCell(heading(column), column);
    std::fputc('\n', out);
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < DEVICE_COLUMN_COUNT; ++column)
            printCell(tableCell(row, column), column);
        const std::string reason = failureReasonText(flow.rowReason(row));
        if (!reason.empty()) std::fprintf(out, "  (%s)", reason.c_str());
        std::fputc('\n', out);
    }
}

int run(Options& options, std::FILE* out, std::FILE* err) {
    HeadlessUi ui(options.quiet ? nullptr : err);
    // The operator's answers: the package given on the command line is meant (extension warning:
    // yes); the version prompt is answered by the verb itself (no).
    ui.answer = [](const ShownBox& box) {
        if (box.buttons == BoxButtons::yesNo) return box.text == kPackageExtensionWarning ? IDYES : IDNO;
        return IDOK;
    };
    UpgradeFlow flow(ui);
    ui.attach(&flow);
    ProgressPrinter printer(flow.list(), err);
    if (!options.quiet) flow.list().AddObserver(&printer);
    struct Detach {
        DeviceList& list;
        ProgressPrinter& printer;
        ~Detach() { list.RemoveObserver(&printer); }
    } detach{flow.list(), printer};

    // A refusal: the window's message on stderr (always, also with --quiet), exit 1.
    auto refused = [&](size_t from) {
        std::optional<ShownBox> error = ui.errorSince(from);
        if (!error) return false;
        if (options.quiet) std::fprintf(err, "%s\n", error->text.c_str());
        return true;
    };
    auto refuse = [&](const std::string& text) {
        std::fprintf(err, "%s\n", text.c_str());
        return 1;
    };

    size_t mark = ui.boxes.size();
    // The server could not start: its message box is the reason (printed here when --quiet hid it).
    if (!flow.OnInitDialog()) return refused(mark) ? 1 : refuse(flowtext::kServerStartFailed);
    mark = ui.boxes.size();
    if (flow.loadPackageFile(options.package) != 0) {
        if (refused(mark)) return 1;
        return refuse(kPackageUnreadableMessage);
    }
    DialogState& state = flow.state();
    if (options.modelsGiven) {
        std::set<std::string> wanted(options.models.begin(), options.models.end());
        for (auto& box : state.modelBoxes) {
            box.checked = wanted.erase(box.utf8Label) > 0;
        }
        if (!wanted.empty()) return refuse("unknown model: " + *wanted.begin());
    }
    flow.setAddressBoxIp(options.addressBox);

    const bool single = options.upgrade && !options.ips.empty();
    if (single) {
        if (!state.enabled(IDC_RADIO_SINGLE)) return refuse(flowtext::kNoPackage);
        flow.OnBnClickedRadioSingle();
        for (const std::string& ip : options.ips) {
            flow.setSingleIp(ip);
            mark = ui.boxes.size();
            flow.OnBnClickedButtonAdd();
            if (refused(mark)) return 1;
        }
    } else {
        if (!flow.batchMode()) return refuse(kMultimediaFilePackageNotice);
        state.setChecked(IDC_SHOW_FAILED, options.showFailed);
        mark = ui.boxes.size();
        flow.OnBnClickedButtonQuery();
        if (refused(mark)) return 1;
        if (options.recover) {
            int found = flow.recoverUnanswered(false);
            if (!options.quiet) std::fprintf(err, "recovered: %d\n", found);
        }
        if (options.upgrade && options.all) {
            state.setChecked(IDC_SELECT_ALL, true);
            flow.OnBnClickedCheckSelectAll();
        }
    }

    if (options.upgrade) {
        state.setChecked(IDC_VERIFY, options.verify);
        flow.setVerifyTimeoutMs(options.verifyTimeoutSeconds * 1000);
        flow.clearRunEnded();
        mark = ui.boxes.size();
        flow.OnBnClickedOk();
        if (refused(mark)) return 1;
        // The end-of-run summary (the box's text) goes to stderr also when quiet.
        auto waitForTheEnd = [&] {
            ui.serveUntil([&] { return flow.runFinished(); });
            if (options.quiet && !ui.boxes.empty()) std::fprintf(err, "%s\n", ui.boxes.back().text.c_str());
        };
        waitForTheEnd();
        for (int retry = 0; retry < options.retries && flow.canRetry(); ++retry) {
            if (!options.quiet) std::fprintf(err, "retry %d\n", retry + 1);
            if (!flow.retryFailed()) break;
            waitForTheEnd();
        }
    }
    printList(flow, options.format, out);
    std::fflush(out);
    int result = options.upgrade && flow.rowsWithStatus(DEVICE_STATUS_UPGRADE_FAILED) > 0 ? 2 : 0;
    if (!options.report.empty()) {
        std::string error;
        if (flow.writeReport(options.report, error) != 0) {
            std::fprintf(err, "%s\n", error.c_str());
            result = 1;
        }
    }
    flow.OnDestroy();
    return result;
}

}  // namespace

int cliQuery(int argc, char** argv, std::FILE* out, std::FILE* err) {
    Options options;
    int parsed = parse(argc, argv, options, out, err);
    if (parsed != 0) return parsed > 0 ? 0 : 1;
    return run(options, out, err);
}

int cliUpgrade(int argc, char** argv, std::FILE* out, std::FILE* err) {
    Options options;
    options.upgrade = true;
    int parsed = parse(argc, argv, options, out, err);
    if (parsed != 0) return parsed > 0 ? 0 : 1;
    return run(options, out, err);
}
