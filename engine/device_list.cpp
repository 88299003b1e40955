// DeviceList: the rows of the device list, without any toolkit.
#include "engine/device_list.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <utility>

namespace {

std::vector<std::string> splitSkippingEmpty(std::string_view text, char separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) pieces.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

// The leading decimal integer of a field, as atoi reads it (0 when there is none), clamped to int.
int decimalField(const std::string& field) {
    errno = 0;
    long value = std::strtol(field.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long>(value, -2147483647L - 1, 2147483647L));
}

}  // namespace

DeviceList::DeviceList() = default;
DeviceList::~DeviceList() = default;

void DeviceList::checkThread() const {
#ifndef NDEBUG
    const std::thread::id self = std::this_thread::get_id();
    if (owner_ == std::thread::id()) owner_ = self;
    assert(owner_ == self && "DeviceList is used on its flow's thread only");
#endif
}

void DeviceList::BindToCurrentThread() {
    owner_ = std::this_thread::get_id();
}

void DeviceList::AddObserver(DeviceListObserver* observer) {
    checkThread();
    if (observer != nullptr && std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
        observers_.push_back(observer);
}

void DeviceList::RemoveObserver(DeviceListObserver* observer) {
    checkThread();
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

template <typename Fn>
void DeviceList::notify(Fn&& fn) {
    // Index loop: an observer may remove itself while being notified.
    for (size_t i = 0; i < observers_.size(); ++i) fn(*observers_[i]);
}

RowRecord DeviceList::newRecord() const {
    RowRecord record;
    record.textColors.assign(columns_.size(), DEVICE_LIST_DEFAULT_COLOR);
    record.backColors.assign(columns_.size(), DEVICE_LIST_DEFAULT_COLOR);
    // Only the status column ever shows a progress bar: no entries for the columns after it (a large
    // list would carry hundreds of bytes of unused progress per row).
    record.progress.assign(std::min(columns_.size(), static_cast<size_t>(DEVICE_LIST_STATUS_COLUMN + 1)),
                           PROGRESS_DATA{});
    return record;
}

void DeviceList::resetSortState() {
    sortColumn_ = -1;
    sortAscending_ = true;
}

// ---- columns -------------------------------------------------------------------------------------

bool DeviceList::DefineColumns(const std::string& description) {
    checkThread();
    notify([](DeviceListObserver& o) { o.listAboutToBeReset(); });
    rows_.clear();
    columns_.clear();
    resetSortState();
    chosenColumn_ = -1;
    chosenAscending_ = true;
    for (const std::string& part : splitSkippingEmpty(description, ';')) {
        std::vector<std::string> fields = splitSkippingEmpty(part, ',');
        if (fields.empty()) continue;
        ListColumn column;
        column.heading = fields[0];
        column.width = fields.size() > 1 ? std::max(0, decimalField(fields[1])) : 100;
        const int format = fields.size() > 2 ? decimalField(fields[2]) : 0;
        column.alignment =
            format == 1 ? COLUMN_ALIGN_CENTER : (format == 2 ? COLUMN_ALIGN_RIGHT : COLUMN_ALIGN_LEFT);
        column.editable = false;
        columns_.push_back(std::move(column));
    }
    notify([](DeviceListObserver& o) { o.listReset(); });
    return !columns_.empty();
}

const ListColumn* DeviceList::Column(int column) const {
    checkThread();
    if (column < 0 || column >= ColumnCount()) return nullptr;
    return &columns_[column];
}

void DeviceList::EnableChecks() {
    checkThread();
    if (checksEnabled_) return;
    checksEnabled_ = true;
    if (!rows_.empty() && !columns_.empty()) {
        for (int r = 0; r < RowCount(); ++r) notify([r](DeviceListObserver& o) { o.cellsChanged(r, 0, 0); });
    }
}

// ---- rows ----------------------------------------------------------------------------------------

const ListRow* DeviceList::Row(int row) const {
    checkThread();
    if (row < 0 || row >= RowCount()) return nullptr;
    return &rows_[row];
}

int DeviceList::InsertRow(int index) {
    checkThread();
    if (index < 0) return -1;
    index = std::min(index, RowCount());
    ListRow row;
    row.texts.assign(columns_.size(), std::string());
    row.record = newRecord();
    resetSortState();
    notify([index](DeviceListObserver& o) { o.rowsAboutToBeInserted(index, index); });
    rows_.insert(rows_.begin() + index, std::move(row));
    notify([index](DeviceListObserver& o) { o.rowsInserted(index, index); });
    return index;
}

int DeviceList::DeleteRow(int row) {
    checkThread();
    if (row < 0 || row >= RowCount()) return 0;
    notify([row](DeviceListObserver& o) { o.rowsAboutToBeRemoved(row, row); });
    rows_.erase(rows_.begin() + row);
    notify([row](DeviceListObserver& o) { o.rowsRemoved(row, row); });
    return 1;
}

int DeviceList::DeleteAllRows() {
    checkThread();
    const int count = RowCount();
    if (count == 0) return 0;
    const bool wasOn = redraw_;
    SetRedraw(false);
    notify([count](DeviceListObserver& o) { o.rowsAboutToBeRemoved(0, count - 1); });
    rows_.clear();
    notify([count](DeviceListObserver& o) { o.rowsRemoved(0, count - 1); });
    if (wasOn) SetRedraw(true);
    return count;
}

int DeviceList::SetCellText(int row, int column, const std::string& utf8) {
    checkThread();
    if (row < 0 || row >= RowCount() || column < 0 || column >= ColumnCount()) return 0;
    resetSortState();
    if (rows_[row].texts[column] == utf8) return 1;
    rows_[row].texts[column] = utf8;
    notify([row, column](DeviceListObserver& o) { o.cellsChanged(row, column, column); });
    return 1;
}

std::string DeviceList::GetItemText(int row, int column) const {
    checkThread();
    if (row < 0 || row >= RowCount() || column < 0 || column >= ColumnCount()) return std::string();
    return rows_[row].texts[column];
}

// ---- colours -------------------------------------------------------------------------------------

void DeviceList::setRowColors(int row, int32_t color, std::vector<int32_t> RowRecord::*colors) {
    checkThread();
    if (rows_.empty()) return;
    const bool all = row < 0 || row >= RowCount();
    const int first = all ? 0 : row, last = all ? RowCount() - 1 : row;
    for (int r = first; r <= last; ++r) {
        std::vector<int32_t>& cells = rows_[r].record.*colors;
        std::fill(cells.begin(), cells.end(), color);
    }
    const bool text = colors == &RowRecord::textColors;
    notify([first, last, text](DeviceListObserver& o) { o.colorsChanged(first, last, text, !text); });
}

void DeviceList::SetRowTextColor(int row, int32_t color) {
    setRowColors(row, color, &RowRecord::textColors);
}

void DeviceList::SetRowBackColor(int row, int32_t color) {
    setRowColors(row, color, &RowRecord::backColors);
}

int32_t DeviceList::GetCellTextColor(int row, int column) const {
    checkThread();
    if (row < 0 || row >= RowCount()) return DEVICE_LIST_DEFAULT_COLOR;
    const auto& colors = rows_[row].record.textColors;
    return column >= 0 && column < static_cast<int>(colors.size()) ? colors[column]
                                                                   : DEVICE_LIST_DEFAULT_COLOR;
}

int32_t DeviceList::GetCellBackColor(int row, int column) const {
    checkThread();
    if (row < 0 || row >= RowCount()) return DEVICE_LIST_DEFAULT_COLOR;
    const auto& colors = rows_[row].record.backColors;
    return column >= 0 && column < static_cast<int>(colors.size()) ? colors[column]
                                                                   : DEVICE_LIST_DEFAULT_COLOR;
}

// ---- check boxes, selection, focus --------------------------------------------------------------

int DeviceList::LockRowCheck(int row) {
    checkThread();
    if (row < 0 || row >= RowCount()) return 0;
    rows_[row].record.checkEnabled = 0;
    return 1;
}

int DeviceList::UnlockRowCheck(int row) {
    checkThread();
    if (row < 0 || row >= RowCount()) return 0;
    rows_[row].record.checkEnabled = 1;
    return 1;
}

bool DeviceList::IsRowCheckLocked(int row) const {
    checkThread();
    return row >= 0 && row < RowCount() && rows_[row].record.checkEnabled == 0;
}

bool DeviceList::GetCheck(int row) const {
    checkThread();
    return row >= 0 && row < RowCount() && rows_[row].checked;
}

int DeviceList::SetCheck(int row, bool checked) {
    checkThread();
    if (row < 0 || row >= RowCount()) return 0;
    if (rows_[row].checked != checked) {
        rows_[row].checked = checked;
        notify([row](DeviceListObserver& o) { o.cellsChanged(row, 0, 0); });
    }
    return 1;
}

int DeviceList::ClickCheck(int row, CheckClick click) {
    checkThread();
    if (row < 0 || row >= RowCount()) return 0;
    ListRow& clicked = rows_[row];
    // The click toggles the box; a locked row puts it back at once and nothing else happens.
    if (clicked.record.checkEnabled == 0) return 0;
    clicked.checked = !clicked.checked;
    for (int r = 0; r < RowCount(); ++r) {
        rows_[r].selected = r == row;
        rows_[r].focused = r == row;
    }
    notify([row](DeviceListObserver& o) { o.cellsChanged(row, 0, 0); });
    notify([](DeviceListObserver& o) { o.selectionChanged(); });
    notify([row, click](DeviceListObserver& o) { o.checkChanged(row, click); });
    return 1;
}

bool DeviceList::IsSelected(int row) const {
    checkThread();
    return row >= 0 && row < RowCount() && rows_[row].selected;
}

bool DeviceList::IsFocused(int row) const {
    checkThread();
    return row >= 0 && row < RowCount() && rows_[row].focused;
}

int DeviceList::SetSelected(int row, bool selected) {
    checkThread();
    if (row < 0 || row >= RowCount()) return 0;
    if (rows_[row].selected != selected) {
        rows_[row].selected = selected;
        notify([](DeviceListObserver& o) { o.selectionChanged(); });
    }
    return 1;
}

int DeviceList::SetFocusedRow(int row) {
    checkThread();
    if (row < -1 || row >= RowCount()) return 0;
    bool changed = false;
    for (int r = 0; r < RowCount(); ++r) {
        if (rows_[r].focused != (r == row)) {
            rows_[r].focused = r == row;
            changed = true;
        }
    }
    if (changed) notify([](DeviceListObserver& o) { o.selectionChanged(); });
    return 1;
}

int DeviceList::FocusedRow() const {
    checkThread();
    for (int r = 0; r < RowCount(); ++r) {
        if (rows_[r].focused) return r;
    }
    return -1;
}

void DeviceList::SetSelection(const std::vector<int>& selectedRows, int focusedRow) {
    checkThread();
    for (ListRow& row : rows_) row.selected = false;
    for (int r : selectedRows) {
        if (r >= 0 && r < RowCount()) rows_[r].selected = true;
    }
    for (int r = 0; r < RowCount(); ++r) rows_[r].focused = r == focusedRow;
}

int DeviceList::CountRows(int stateFilter) const {
    checkThread();
    int count = 0;
    for (const ListRow& row : rows_) {
        if ((stateFilter & RC_ITEM_SELECTED) && !row.selected) continue;
        if ((stateFilter & RC_ITEM_UNSELECTED) && row.selected) continue;
        if ((stateFilter & RC_ITEM_CHECKED) && !row.checked) continue;
        if ((stateFilter & RC_ITEM_UNCHECKED) && row.checked) continue;
        if ((stateFilter & RC_ITEM_FOCUSED) && !row.focused) continue;
        if ((stateFilter & RC_ITEM_UNFOCUSED) && row.focused) continue;
        ++count;
    }
    return count;
}

// ---- owner key -----------------------------------------------------------------------------------

int DeviceList::SetOwnerKey(int row, uint32_t key) {
    checkThread();
    if (row < 0 || row >= RowCount()) return 0;
    rows_[row].ownerKey = key;
    return 1;
}

uint32_t DeviceList::GetOwnerKey(int row) const {
    checkThread();
    if (row < 0 || row >= RowCount()) return 0;
    return rows_[row].ownerKey;
}

int DeviceList::FindRowByOwnerKey(uint32_t key) const {
    checkThread();
    for (int r = 0; r < RowCount(); ++r) {
        if (rows_[r].ownerKey == key) return r;
    }
    return -1;
}

// ---- progress cell ---------------------------------------------------------------------------------

int DeviceList::StartCellProgress(int row) {
    checkThread();
    if (ColumnCount() < 2 || row < 0 || row >= RowCount()) return 0;
    PROGRESS_DATA& p = rows_[row].record.progress[DEVICE_LIST_STATUS_COLUMN];
    p.inUse = 1;
    p.percent = 0;
    p.showText = 1;
    p.textFormat.clear();
    notify([row](DeviceListObserver& o) { o.progressChanged(row, DEVICE_LIST_STATUS_COLUMN); });
    return 1;
}

int DeviceList::StopCellProgress(int row) {
    checkThread();
    if (ColumnCount() < 2 || row < 0 || row >= RowCount()) return 0;
    PROGRESS_DATA& p = rows_[row].record.progress[DEVICE_LIST_STATUS_COLUMN];
    p.inUse = 0;
    p.percent = 0;
    notify([row](DeviceListObserver& o) { o.progressChanged(row, DEVICE_LIST_STATUS_COLUMN); });
    return 1;
}

int DeviceList::SetCellProgressPercent(int row, int percent) {
    checkThread();
    if (ColumnCount() < 2 || row < 0 || row >= RowCount()) return 0;
    rows_[row].record.progress[DEVICE_LIST_STATUS_COLUMN].percent = std::clamp(percent, 0, 100);
    return 1;
}

void DeviceList::RefreshStatusCell(int row) {
    checkThread();
    if (ColumnCount() < 2 || row < 0 || row >= RowCount()) return;
    notify([row](DeviceListObserver& o) { o.progressChanged(row, DEVICE_LIST_STATUS_COLUMN); });
}

const PROGRESS_DATA* DeviceList::CellProgress(int row, int column) const {
    checkThread();
    if (row < 0 || row >= RowCount()) return nullptr;
    const auto& progress = rows_[row].record.progress;
    if (column < 0 || column >= static_cast<int>(progress.size())) return nullptr;
    return &progress[column];
}

// ---- sorting ------------------------------------------------------------------------------------------

void DeviceList::SortByColumn(int column, bool ascending) {
    checkThread();
    if (column < 0 || column >= ColumnCount()) return;
    sortColumn_ = column;
    sortAscending_ = ascending;
    chosenColumn_ = column;
    chosenAscending_ = ascending;

    std::vector<std::string_view> texts;
    std::vector<uint32_t> numericIps;
    texts.reserve(rows_.size());
    numericIps.reserve(rows_.size());
    for (const ListRow& row : rows_) {
        texts.push_back(row.texts[column]);
        // The key holds the address's first number in its lowest byte.
        const uint32_t k = row.ownerKey;
        numericIps.push_back((k & 0xFFu) << 24 | (k & 0xFF00u) << 8 | (k >> 8 & 0xFF00u) | k >> 24);
    }
    const std::vector<int> order = cellSortOrder(texts, ascending, dateParser_, &numericIps);

    notify([](DeviceListObserver& o) { o.rowsAboutToBeSorted(); });
    std::vector<ListRow> sorted;
    sorted.reserve(rows_.size());
    for (int old : order) sorted.push_back(std::move(rows_[old]));
    rows_ = std::move(sorted);
    notify([&](DeviceListObserver& o) { o.rowsSorted(column, ascending, order); });
}

void DeviceList::ReapplyChosenSort() {
    checkThread();
    if (chosenColumn_ >= 0 && chosenColumn_ < ColumnCount()) SortByColumn(chosenColumn_, chosenAscending_);
}

void DeviceList::OnHeaderClick(int column) {
    checkThread();
    SortByColumn(column, column != sortColumn_ ? true : !sortAscending_);
}

int DeviceList::CompareCells(std::string_view a, std::string_view b) const {
    checkThread();
    return compareCellTexts(a, b, dateParser_);
}

void DeviceList::SetDateParser(CellDateParser parser) {
    checkThread();
    dateParser_ = std::move(parser);
}

// ---- redraw -----------------------------------------------------------------------------------------

void DeviceList::SetRedraw(bool on) {
    checkThread();
    if (redraw_ == on) return;
    redraw_ = on;
    notify([on](DeviceListObserver& o) { o.redrawChanged(on); });
}

std::string formatProgressPercent(const std::string& textFormat, int percent) {
    const std::string format = textFormat.empty() ? std::string("%d%%") : textFormat;
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 'd') {
            out += std::to_string(percent);
            ++i;
        } else if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '%') {
            out += '%';
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}
