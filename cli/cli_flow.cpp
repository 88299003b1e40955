#include "cli/cli_flow.h"

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "engine/headless_ui.h"
#include "engine/upgrade_flow.h"
#include "package/package_load.h"
#include "protocol/ss_pair.h"
#include "ss/ss_platform.h"

namespace {

struct Options {
    bool upgrade = false;
    std::string package, addressBox, format = "table";
    std::vector<std::string> models, ips;
    bool modelsGiven = false, showFailed = false, all = false, quiet = false;
};

const char kQueryUsage[] =
    "usage: quenta-upgrade-cli query --package P --address-box IP [--models M1,M2] [--show-failed]\n"
    "                                [--format table|csv|json] [--quiet]\n";
const char kUpgradeUsage[] =
    "usage: quenta-upgrade-cli upgrade --package P --address-box IP [--models M1,M2] [--all]\n"
    "                                  [--format table|csv|json] [--quiet]\n"
    "       quenta-upgrade-cli upgrade --package P --address-box IP --ip A [--ip B ...] [--format ...]\n";

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

std::string jsonString(const std::string& text) {
    std::string quoted = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                quoted += "\\\"";
                break;
            case '\\':
                quoted += "\\\\";
                break;
            case '\n':
                quoted += "\\n";
                break;
            case '\r':
                quoted += "\\r";
                break;
            case '\t':
                quoted += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    quoted += escaped;
                } else {
                    quoted += static_cast<char>(c);
                }
        }
    }
    return quoted + "\"";
}

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

void printList(DeviceList& list, const std::string& format, std::FILE* out) {
    const int rows = list.RowCount();
    auto cell = [&](int row, int column) -> std::string {
        if (column == DEVICE_COLUMN_CHECK) return list.GetCheck(row) ? "true" : "false";
        return list.GetItemText(row, column);
    };
    if (format == "json") {
        std::fputs("[", out);
        for (int row = 0; row < rows; ++row) {
            std::fputs(row == 0 ? "\n  {" : ",\n  {", out);
            for (int column = 0; column < DEVICE_COLUMN_COUNT; ++column) {
                std::string value = column == 0 ? cell(row, column) : jsonString(cell(row, column));
                std::fprintf(out, "%s\"%s\": %s", column == 0 ? "" : ", ", kJsonKeys[column], value.c_str());
            }
            std::fputs("}", out);
        }
        std::fputs(rows > 0 ? "\n]\n" : "]\n", out);
        return;
    }
    if (format == "csv") {
        for (int column = 0; column < DEVICE_COLUMN_COUNT; ++column)
            std::fprintf(out, "%s%s", column == 0 ? "" : ",", kJsonKeys[column]);
        std::fputc('\n', out);
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < DEVICE_COLUMN_COUNT; ++column)
                std::fprintf(out, "%s%s", column == 0 ? "" : ",", csvField(cell(row, column)).c_str());
            std::fputc('\n', out);
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
        if (options.upgrade && options.all) {
            state.setChecked(IDC_SELECT_ALL, true);
            flow.OnBnClickedCheckSelectAll();
        }
    }

    if (options.upgrade) {
        flow.clearRunEnded();
        mark = ui.boxes.size();
        flow.OnBnClickedOk();
        if (refused(mark)) return 1;
        ui.serveUntil([&] { return flow.runFinished(); });
    }
    printList(flow.list(), options.format, out);
    std::fflush(out);
    const int result = options.upgrade && flow.rowsWithStatus(DEVICE_STATUS_UPGRADE_FAILED) > 0 ? 2 : 0;
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
