#include "cli/cli_flow.h"

#include <map>
#include <set>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
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

using Options = CliFlowOptions;

// Texts the flow needs (paths, addresses): "" is refused as it was not given.
const CLI::Validator kNonEmpty(
    [](std::string& text) { return std::string(text.empty() ? "an empty value" : ""); }, "", "non-empty");

// A plain decimal count: no sign, no hex or octal prefix, no exponent.
const CLI::Validator kDecimal(
    [](std::string& text) {
        const bool digits =
            !text.empty() && text.size() <= 9 && text.find_first_not_of("0123456789") == std::string::npos;
        return digits ? std::string() : "'" + text + "' is not a decimal number";
    },
    "", "decimal");

// One of a fixed set of words; the error names them all ("... is not one of table|csv|json").
CLI::Validator oneOf(std::vector<std::string> words) {
    std::string joined;
    for (const std::string& word : words) joined += (joined.empty() ? "" : "|") + word;
    return CLI::Validator(
        [words, joined](std::string& text) {
            for (const std::string& word : words)
                if (text == word) return std::string();
            return "'" + text + "' is not one of " + joined;
        },
        "", "one of " + joined);
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
    ui.retryWayText = flowtext::kRetryByOption;  // the summary names --retry, not the list's menu
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

void cliAddFlowOptions(CLI::App& verb, Options& options) {
    verb.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    verb.add_option("--package", options.package, "the upgrade package (*.quenta)")
        ->type_name("P")
        ->required()
        ->check(kNonEmpty);
    verb.add_option("--address-box", options.addressBox, "the address box's IP, which lists the site")
        ->type_name("IP")
        ->required()
        ->check(kNonEmpty);
    verb.add_option_function<std::string>(
            "--models",
            [&options](const std::string& list) {
                options.modelsGiven = true;
                for (auto& model : splitString(list.c_str(), ",")) options.models.push_back(model);
            },
            "the package's models to tick, comma separated (default: as the window ticks them)")
        ->type_name("M1,M2")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    if (options.upgrade) {
        verb.add_flag("--all", options.all, "upgrade every connected row, not only the version rule's");
        verb.add_option("--ip", options.ips, "upgrade these devices (added one by one) instead of a query")
            ->type_name("A")
            ->allow_extra_args(false)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        verb.add_flag_callback(
            "--no-verify", [&options] { options.verify = false; },
            "do not verify the version after the reboot");
        verb.add_option("--verify-timeout", options.verifyTimeoutSeconds,
                        "how long a device may take to come back with the new version")
            ->type_name("SECONDS")
            ->check(kDecimal)
            ->check(CLI::Range(1, 86400))
            ->capture_default_str();
        verb.add_option("--retry", options.retries, "upgrade the failed devices again, up to N more runs")
            ->type_name("N")
            ->check(kDecimal)
            ->check(CLI::Range(0, 100))
            ->capture_default_str();
    } else {
        verb.add_flag("--show-failed", options.showFailed, "also list the devices that did not answer");
    }
    verb.add_flag("--recover", options.recover, "after the query, ask the unanswered devices again");
    verb.add_option("--report", options.report, "write the end report (the file's extension picks the form)")
        ->type_name("FILE.csv|FILE.json")
        ->check(kNonEmpty);
    verb.add_option("--format", options.format, "how the final list is printed on stdout")
        ->type_name("table|csv|json")
        ->check(oneOf({"table", "csv", "json"}))
        ->capture_default_str();
    verb.add_flag("--quiet", options.quiet, "no progress on stderr (refusals and the summary still)");
}

int cliRunFlow(Options& options, std::FILE* out, std::FILE* err) {
    return run(options, out, err);
}
