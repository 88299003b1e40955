#include "engine/list_output.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "engine/upgrade_flow.h"
#include "engine/upgrade_report.h"

namespace {

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

// The list as the window shows it: its headings, a check mark column, padded to the widest cell;
// a row's reason follows it in brackets. Device texts reach a terminal with their control characters
// in a visible form.
void writeTable(UpgradeFlow& flow, std::FILE* out) {
    DeviceList& list = flow.list();
    const int rows = list.RowCount();
    std::vector<int> widths(DEVICE_COLUMN_COUNT, 0);
    auto heading = [&](int column) { return std::string(deviceColumnSpec(column)->heading); };
    auto tableCell = [&](int row, int column) -> std::string {
        if (column == DEVICE_COLUMN_CHECK) return list.GetCheck(row) ? "[x]" : "[ ]";
        return terminalText(list.GetItemText(row, column));
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
        const std::string reason = terminalText(failureReasonText(flow.rowReason(row)));
        if (!reason.empty()) std::fprintf(out, "  (%s)", reason.c_str());
        std::fputc('\n', out);
    }
}

}  // namespace

void writeDeviceList(UpgradeFlow& flow, const std::string& format, std::FILE* out) {
    if (format == "table") return writeTable(flow, out);
    const int rows = flow.list().RowCount();
    if (format == "json") {
        writeJsonRecords(
            deviceListFields(), static_cast<size_t>(rows),
            [&flow](size_t row) { return flow.listRow(static_cast<int>(row)); }, 0,
            [out](std::string_view text) { std::fwrite(text.data(), 1, text.size(), out); });
        std::fputc('\n', out);
        return;
    }
    std::fputs(csvHeadings(deviceListFields(), true, "\n").c_str(), out);
    for (int row = 0; row < rows; ++row) std::fputs(csvRecord(flow.listRow(row), "\n").c_str(), out);
}
