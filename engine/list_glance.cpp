// ListGlance; see list_glance.h.
#include "engine/list_glance.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "engine/device_status.h"

namespace {

int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int statusOfText(const std::string& text) {
    for (int code = 0; code < DEVICE_STATUS_COUNT; ++code) {
        const DeviceStatusEntry* entry = deviceStatusEntry(code);
        if (entry != nullptr && text == entry->text) return code;
    }
    return -1;
}

// A run's device passes from 已连接 through these to an end status.
bool inFlight(int code) {
    return code == DEVICE_STATUS_WAIT_UPGRADE || code == DEVICE_STATUS_UPGRADING ||
           code == DEVICE_STATUS_VERIFYING;
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool containsIgnoringCase(const std::string& text, const std::string& lowerNeedle) {
    if (lowerNeedle.size() > text.size()) return false;
    for (size_t i = 0; i + lowerNeedle.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < lowerNeedle.size() && lowerAscii(text[i + k]) == lowerNeedle[k]) ++k;
        if (k == lowerNeedle.size()) return true;
    }
    return false;
}

std::string trimmedLower(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    size_t last = text.find_last_not_of(" \t");
    std::string out = text.substr(first, last - first + 1);
    std::transform(out.begin(), out.end(), out.begin(), lowerAscii);
    return out;
}

}  // namespace

std::string minutesSecondsText(int64_t milliseconds) {
    const int64_t seconds = std::max<int64_t>(0, milliseconds) / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

std::string runLineText(const RunLine& line) {
    const int total = std::max(0, line.total);
    const int finished = std::clamp(line.finished, 0, total);
    const int remaining = total - finished;
    std::string estimate = "--:--";
    if (remaining == 0) {
        estimate = minutesSecondsText(0);
    } else if (finished > 0 && line.elapsedMs > 0) {
        estimate = minutesSecondsText(line.elapsedMs / finished * remaining);
    }
    char text[160];
    std::snprintf(text, sizeof text, "已完成 %d/%d，失败 %d，剩余 %d，预计 %s", finished, total,
                  std::clamp(line.failed, 0, finished), remaining, estimate.c_str());
    return text;
}

bool rowPassesFilter(const ListRow& row, const ListFilter& filter) {
    auto cell = [&row](int column) -> const std::string& {
        static const std::string empty;
        return column < static_cast<int>(row.texts.size()) ? row.texts[column] : empty;
    };
    if (filter.status >= 0 && statusOfText(cell(DEVICE_COLUMN_STATUS)) != filter.status) return false;
    const std::string needle = trimmedLower(filter.search);
    if (needle.empty()) return true;
    return containsIgnoringCase(cell(DEVICE_COLUMN_IP), needle) ||
           containsIgnoringCase(cell(DEVICE_COLUMN_SERIAL), needle);
}

ListGlance::ListGlance(DeviceList& list, Clock clock)
    : list_(list), clock_(clock ? std::move(clock) : Clock(steadyMs)), counts_(DEVICE_STATUS_COUNT, 0) {
    list_.AddObserver(this);
    rebuild();
}

ListGlance::~ListGlance() {
    list_.RemoveObserver(this);
}

int ListGlance::count(int code) const {
    return code >= 0 && code < static_cast<int>(counts_.size()) ? counts_[code] : 0;
}

std::vector<StatusCount> ListGlance::counts() const {
    std::vector<StatusCount> out;
    out.push_back({-1, glancetext::kAll, total()});
    for (int code = 0; code < static_cast<int>(counts_.size()); ++code) {
        const DeviceStatusEntry* entry = deviceStatusEntry(code);
        if (entry != nullptr && counts_[code] > 0) out.push_back({code, entry->text, counts_[code]});
    }
    return out;
}

void ListGlance::beginRun() {
    runBase_ = counts_;
    runTotal_ = 0;
    for (int row = 0; row < list_.RowCount(); ++row) {
        if (codes_[row] == DEVICE_STATUS_CONNECTED && list_.GetCheck(row)) ++runTotal_;
    }
    runStartMs_ = clock_();
    running_ = true;
    countsChanged();
}

void ListGlance::endRun() {
    if (!running_) return;
    running_ = false;
    countsChanged();
}

RunLine ListGlance::runLine() const {
    RunLine line;
    line.total = runTotal_;
    if (runBase_.size() != counts_.size()) return line;
    for (int code = 0; code < static_cast<int>(counts_.size()); ++code) {
        if (code == DEVICE_STATUS_CONNECTED || inFlight(code)) continue;
        line.finished += std::max(0, counts_[code] - runBase_[code]);
    }
    line.failed = std::max(0, counts_[DEVICE_STATUS_UPGRADE_FAILED] - runBase_[DEVICE_STATUS_UPGRADE_FAILED]);
    line.elapsedMs = clock_() - runStartMs_;
    return line;
}

void ListGlance::setFilter(const ListFilter& filter) {
    if (filter == filter_) return;
    filter_ = filter;
    visibleCount_ = 0;
    for (int row = 0; row < total(); ++row) {
        visible_[row] = judge(row) ? 1 : 0;
        visibleCount_ += visible_[row];
    }
    visibilityChanged(0, total() - 1);
    countsChanged();
}

bool ListGlance::rowVisible(int row) const {
    return row >= 0 && row < total() && visible_[row] != 0;
}

bool ListGlance::judge(int row) const {
    if (!filtering()) return true;
    const ListRow* r = list_.Row(row);
    return r != nullptr && rowPassesFilter(*r, filter_);
}

void ListGlance::add(int code, int delta) {
    if (code >= 0 && code < static_cast<int>(counts_.size())) counts_[code] += delta;
}

void ListGlance::setVisible(int row, bool visible) {
    if ((visible_[row] != 0) == visible) return;
    visible_[row] = visible ? 1 : 0;
    visibleCount_ += visible ? 1 : -1;
    visibilityChanged(row, row);
}

void ListGlance::countsChanged() {
    if (onCounts_) onCounts_();
}

void ListGlance::visibilityChanged(int first, int last) {
    if (onVisibility_ && first <= last) onVisibility_(first, last);
}

void ListGlance::rebuild() {
    const int rows = list_.RowCount();
    codes_.assign(rows, -1);
    visible_.assign(rows, 1);
    std::fill(counts_.begin(), counts_.end(), 0);
    visibleCount_ = 0;
    for (int row = 0; row < rows; ++row) {
        codes_[row] = statusOfText(list_.GetItemText(row, DEVICE_COLUMN_STATUS));
        add(codes_[row], 1);
        visible_[row] = judge(row) ? 1 : 0;
        visibleCount_ += visible_[row];
    }
}

void ListGlance::listReset() {
    rebuild();
    countsChanged();
}

void ListGlance::rowsInserted(int first, int last) {
    for (int row = first; row <= last; ++row) {
        const int code = statusOfText(list_.GetItemText(row, DEVICE_COLUMN_STATUS));
        const bool visible = judge(row);
        codes_.insert(codes_.begin() + row, code);
        visible_.insert(visible_.begin() + row, visible ? 1 : 0);
        add(code, 1);
        visibleCount_ += visible ? 1 : 0;
    }
    countsChanged();
}

void ListGlance::rowsAboutToBeRemoved(int first, int last) {
    for (int row = first; row <= last && row < total(); ++row) {
        add(codes_[row], -1);
        visibleCount_ -= visible_[row];
    }
}

void ListGlance::rowsRemoved(int first, int last) {
    last = std::min(last, total() - 1);
    if (first > last) return;
    codes_.erase(codes_.begin() + first, codes_.begin() + last + 1);
    visible_.erase(visible_.begin() + first, visible_.begin() + last + 1);
    countsChanged();
}

void ListGlance::cellsChanged(int row, int firstColumn, int lastColumn) {
    if (row < 0 || row >= total()) return;
    auto touches = [&](int column) { return firstColumn <= column && column <= lastColumn; };
    if (touches(DEVICE_COLUMN_STATUS)) {
        const int code = statusOfText(list_.GetItemText(row, DEVICE_COLUMN_STATUS));
        if (code != codes_[row]) {
            add(codes_[row], -1);
            add(code, 1);
            codes_[row] = code;
            countsChanged();
        }
    }
    if (filtering() &&
        (touches(DEVICE_COLUMN_STATUS) || touches(DEVICE_COLUMN_IP) || touches(DEVICE_COLUMN_SERIAL)))
        setVisible(row, judge(row));
}

void ListGlance::rowsSorted(int /*column*/, bool /*ascending*/, const std::vector<int>& newToOld) {
    if (newToOld.size() != codes_.size()) {
        rebuild();
    } else {
        std::vector<int> codes(codes_.size());
        std::vector<char> visible(visible_.size());
        for (size_t i = 0; i < newToOld.size(); ++i) {
            codes[i] = codes_[newToOld[i]];
            visible[i] = visible_[newToOld[i]];
        }
        codes_ = std::move(codes);
        visible_ = std::move(visible);
    }
}
