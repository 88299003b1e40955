#include "cli/cli_flow.h"

#include <map>
#include <set>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <optional>

#include "cli/cli_console.h"
#include "engine/device_list.h"
#include "engine/device_status.h"
#include "engine/headless_ui.h"
#include "engine/list_output.h"
#include "engine/record_table_json.h"
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
        std::string ip = terminalText(list_.GetItemText(row, DEVICE_COLUMN_IP));
        auto& last = percent_[ip];
        if (last == data->percent + 1) return;
        last = data->percent + 1;
        std::fprintf(stream_, "%s %d%%\n", ip.c_str(), data->percent);
    }
    void cellsChanged(int row, int first, int last) override {
        if (first > DEVICE_COLUMN_STATUS || last < DEVICE_COLUMN_STATUS) return;
        int code = rowStatus(list_, row);
        if (code == DEVICE_STATUS_UPGRADING || code == DEVICE_STATUS_UPGRADE_DONE ||
            code == DEVICE_STATUS_UPGRADE_FAILED || code == DEVICE_STATUS_UNVERIFIED) {
            std::fprintf(stream_, "%s %s\n", terminalText(list_.GetItemText(row, DEVICE_COLUMN_IP)).c_str(),
                         list_.GetItemText(row, DEVICE_COLUMN_STATUS).c_str());
        }
    }

  private:
    DeviceList& list_;
    std::FILE* stream_;
    std::map<std::string, int> percent_;
};

// One run of the verb: the flow behind a window-less front end whose boxes are answered as the
// command line's operator would (the package given is meant; the version prompt: no).
class FlowRun {
  public:
    FlowRun(Options& options, std::FILE* out, std::FILE* err)
        : options_(options),
          out_(out),
          err_(err),
          ui_(options.quiet ? nullptr : err),
          flow_(ui_),
          printer_(flow_.list(), err) {
        ui_.answer = [&options](const ShownBox& box) {
            if (box.buttons == BoxButtons::yesNo) return box.text == kPackageExtensionWarning ? IDYES : IDNO;
            // The one question whose default is 否: go on after failed first devices?
            if (box.buttons == BoxButtons::yesNoDefaultNo)
                return options.continueAfterFirstFailure ? IDYES : IDNO;
            return IDOK;
        };
        ui_.retryWayText = flowtext::kRetryByOption;  // the summary names --retry, not the list's menu
        ui_.attach(&flow_);
        if (!options.quiet) flow_.list().AddObserver(&printer_);
    }
    ~FlowRun() {
        flow_.list().RemoveObserver(&printer_);
        flow_.OnDestroy();
    }
    FlowRun(const FlowRun&) = delete;
    FlowRun& operator=(const FlowRun&) = delete;

    int run() {
        if (int refused = prepare()) return refused;
        if (int refused = list()) return refused;
        if (options_.upgrade) {
            if (int refused = upgrade()) return refused;
        }
        writeDeviceList(flow_, options_.format, out_);
        // A closed pipe or a full disk: the list the caller relies on is incomplete.
        const bool listWritten = std::fflush(out_) == 0 && !std::ferror(out_);
        int result = options_.upgrade && flow_.rowsWithStatus(DEVICE_STATUS_UPGRADE_FAILED) > 0 ? 2 : 0;
        if (interrupted_) result = kCliInterruptedExit;
        if (!options_.report.empty() && writeReport() != 0) result = 1;
        if (!listWritten) result = refuse(flowtext::kListNotWritten);
        return result;
    }

  private:
    // A refusal: the window's message on stderr (always, also with --quiet), exit 1.
    bool refused(size_t from) {
        std::optional<ShownBox> error = ui_.errorSince(from);
        if (!error) return false;
        if (options_.quiet) std::fprintf(err_, "%s\n", error->text.c_str());
        return true;
    }
    int refuse(const std::string& text) {
        std::fprintf(err_, "%s\n", text.c_str());
        return 1;
    }
    // A use case that refused (its box is the reason) or that failed without a box (`fallback`).
    int refusedWith(size_t mark, const std::string& fallback) { return refused(mark) ? 1 : refuse(fallback); }

    // The server, the package, the models and the address box.
    int prepare() {
        size_t mark = ui_.boxes.size();
        if (!flow_.OnInitDialog()) return refusedWith(mark, flowtext::kServerStartFailed);
        mark = ui_.boxes.size();
        if (flow_.loadPackageFile(options_.package) != 0) return refusedWith(mark, kPackageUnreadableMessage);
        std::string unknown;
        if (options_.modelsGiven && !flow_.chooseModels(options_.models, unknown))
            return refuse("unknown model: " + unknown);
        flow_.setAddressBoxIp(options_.addressBox);
        return 0;
    }

    // The devices: added one by one (--ip), or the query with its options.
    int list() {
        const size_t mark = ui_.boxes.size();
        if (options_.upgrade && !options_.ips.empty())
            return flow_.addDevices(options_.ips) != 0 ? refusedWith(mark, flowtext::kNoPackage) : 0;
        if (flow_.queryDevices({options_.showFailed}) != 0) return refusedWith(mark, flowtext::kNoPackage);
        if (options_.recover) {
            int found = flow_.recoverUnanswered(false);
            if (!options_.quiet) std::fprintf(err_, "recovered: %d\n", found);
        }
        if (options_.upgrade && options_.all) flow_.selectAllUpgradable(true);
        return 0;
    }

    // The run, then up to --retry runs of the failed devices worth retrying; each run's summary
    // (which names the run's own report) goes to stderr. Ctrl+C cancels as "取消" does and ends the
    // retries; a second one ends the program at once.
    int upgrade() {
        const size_t mark = ui_.boxes.size();
        InterruptWatch watch;
        UpgradeFlow::UpgradeOptions run;
        run.verify = options_.verify;
        run.verifyTimeoutMs = options_.verifyTimeoutSeconds * 1000;
        run.stages = options_.stages;
        run.rollout.brakePercent = options_.brakePercent;
        run.rollout.brakeMin = options_.brakeMin;
        if (flow_.startRun(run) != 0) return refusedWith(mark, flowtext::kNoneTicked);
        waitForTheEnd();
        for (int retry = 0; retry < options_.retries && !interrupted_ && flow_.canRetry(); ++retry) {
            if (!options_.quiet) std::fprintf(err_, "retry %d\n", retry + 1);
            const size_t before = ui_.boxes.size();
            const bool started = flow_.retryFailed();
            // How many were left out as needing a person on site (its box), also when quiet.
            if (options_.quiet)
                for (size_t i = before; i < ui_.boxes.size(); ++i)
                    if (ui_.boxes[i].icon == BoxIcon::information)
                        std::fprintf(err_, "%s\n", ui_.boxes[i].text.c_str());
            if (!started) break;
            waitForTheEnd();
        }
        return 0;
    }

    // The end-of-run summary (the box's text) goes to stderr also when quiet.
    void waitForTheEnd() {
        for (;;) {
            ui_.serveUntil([&] { return flow_.runFinished() || (!interrupted_ && cliInterruptCount() > 0); });
            if (flow_.runFinished()) break;
            interrupted_ = true;
            flow_.cancelUpgrade();
        }
        if (options_.quiet && !ui_.boxes.empty()) std::fprintf(err_, "%s\n", ui_.boxes.back().text.c_str());
    }

    // Ctrl+C is watched while the runs go on; each run saves its own report before it ends.
    struct InterruptWatch {
        InterruptWatch() { cliWatchInterrupts(true, flowtext::kCliInterrupted); }
        ~InterruptWatch() { cliWatchInterrupts(false); }
        InterruptWatch(const InterruptWatch&) = delete;
        InterruptWatch& operator=(const InterruptWatch&) = delete;
    };

    int writeReport() {
        std::string error;
        if (flow_.writeReport(options_.report, error) != 0) return refuse(error);
        std::fprintf(err_, "%s\n", formatString(flowtext::kReportSaved, options_.report.c_str()).c_str());
        return 0;
    }

    bool interrupted_ = false;  // Ctrl+C cancelled a run
    Options& options_;
    std::FILE* out_;
    std::FILE* err_;
    HeadlessUi ui_;
    UpgradeFlow flow_;
    ProgressPrinter printer_;
};

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
        verb.add_flag_callback(
            "--no-stages", [&options] { options.stages = false; },
            "upgrade every device at once: no first device per model, no cap, no brake");
        verb.add_flag("--continue-after-first-failure", options.continueAfterFirstFailure,
                      "when a first device fails, upgrade the rest anyway (default: stop, exit 2)");
        verb.add_option("--brake-percent", options.brakePercent,
                        "stop a model once more than P % of its ended devices failed (0: never)")
            ->type_name("P")
            ->check(kDecimal)
            ->check(CLI::Range(0, 100))
            ->capture_default_str();
        verb.add_option("--brake-min", options.brakeMin, "ended devices of a model before its brake may act")
            ->type_name("N")
            ->check(kDecimal)
            ->check(CLI::Range(1, 100000))
            ->capture_default_str();
        verb.add_option("--retry", options.retries,
                        "upgrade the failed devices worth retrying again, up to N more runs")
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
    FlowRun run(options, out, err);
    return run.run();
}
