// DeviceList: the rows of the device list, without any toolkit.
#include "engine/device_list.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <utility>

#include "ss/ss_platform.h"

namespace {

bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

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

// An unsigned base-16 number as strtoul reads it, where the whole text must be consumed.
// Values past 64 bits keep their significant digits so that long numbers still order correctly.
struct HexKey {
    bool valid = false;
    bool overflow = false;
    uint64_t value = 0;
    std::string digits;  // significant digits, upper case (used only on overflow)
};

HexKey parseHex(std::string_view s) {
    HexKey key;
    size_t i = 0;
    while (i < s.size() && isCSpace(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i + 2 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') && hexDigit(s[i + 2]) >= 0)
        i += 2;
    if (i >= s.size()) return key;
    for (; i < s.size(); ++i) {
        int d = hexDigit(s[i]);
        if (d < 0) return key;
        if (key.digits.empty() && d == 0) continue;
        key.digits.push_back("0123456789ABCDEF"[d]);
        if (key.value > (UINT64_MAX >> 4)) key.overflow = true;
        key.value = (key.value << 4) | static_cast<uint64_t>(d);
    }
    key.valid = true;
    if (key.overflow)
        key.value = UINT64_MAX;
    else if (negative)
        key.value = 0 - key.value;  // strtoul's negation
    return key;
}

int compareHex(const HexKey& a, const HexKey& b) {
    if (a.overflow && b.overflow) {
        if (a.digits.size() != b.digits.size()) return a.digits.size() < b.digits.size() ? -1 : 1;
        int c = a.digits.compare(b.digits);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    if (a.overflow != b.overflow) return a.overflow ? 1 : -1;
    return a.value < b.value ? -1 : (a.value > b.value ? 1 : 0);
}

// strtod in the "C" locale (the process locale may use ',' as decimal point), followed by nothing or
// by a single "%". NaN is not taken as a number: it would compare equal to everything.
std::optional<double> parseDecimal(std::string_view s) {
    if (s.empty()) return std::nullopt;
    std::string text(s);
    char* end = nullptr;
    double value = ss_platform_strtodC(text.c_str(), &end);
    if (end == text.c_str()) return std::nullopt;
    std::string_view rest(end);
    if (!rest.empty() && rest != "%") return std::nullopt;
    if (std::isnan(value)) return std::nullopt;
    return value;
}

std::u16string toUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            len = 0;  // stray continuation byte or invalid lead byte
        }
        bool ok = len > 0 && i + len <= s.size();
        for (size_t k = 1; ok && k < len; ++k) {
            unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

int compareUtf16(const std::u16string& a, const std::u16string& b) {
    int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// Everything the comparison rules need from one cell, parsed once per sort. The date is parsed only
// when a comparison reaches the date rule (date parsers can be slow, and in a column without dates
// only the pivots ever get parsed).
struct CellKey {
    bool nonEmpty = false;
    HexKey hex;
    std::optional<double> decimal;
    std::u16string text;
    std::string_view source;  // the cell text, alive for the whole sort
    mutable bool dateParsed = false;
    mutable std::optional<int64_t> date;

    const std::optional<int64_t>& dateOf(const DeviceListDateParser& parser) const {
        if (!dateParsed) {
            date = parser(source);
            dateParsed = true;
        }
        return date;
    }
    bool knownNotDate() const { return dateParsed && !date; }
};

CellKey makeKey(std::string_view text) {
    CellKey key;
    key.source = text;
    key.nonEmpty = !text.empty();
    if (key.nonEmpty) {
        key.hex = parseHex(text);
        key.decimal = parseDecimal(text);
    }
    key.text = toUtf16(text);
    return key;
}

// `b` is the pivot during a sort, so its date is looked at first.
int compareKeys(const CellKey& a, const CellKey& b, const DeviceListDateParser& parser) {
    if (a.nonEmpty && b.nonEmpty && a.hex.valid && b.hex.valid) return compareHex(a.hex, b.hex);
    if (a.decimal && b.decimal) return *a.decimal < *b.decimal ? -1 : (*a.decimal > *b.decimal ? 1 : 0);
    if (!a.knownNotDate() && !b.knownNotDate() && b.dateOf(parser) && a.dateOf(parser)) {
        const int64_t da = *a.date, db = *b.date;
        return da < db ? -1 : (da > db ? 1 : 0);
    }
    return compareUtf16(a.text, b.text);
}

// Quicksort with the middle element as pivot (not stable). Recurses into the smaller part and loops
// on the other, so the depth stays logarithmic; the scans are bounded so that even an inconsistent
// comparison cannot run past the range.
template <typename Cmp>
void quickSort(std::vector<int>& a, int lo, int hi, const Cmp& cmp) {
    while (lo < hi) {
        const int pivot = a[lo + (hi - lo) / 2];
        int i = lo, j = hi;
        while (i <= j) {
            while (i < hi && cmp(a[i], pivot) < 0) ++i;
            while (j > lo && cmp(a[j], pivot) > 0) --j;
            if (i <= j) {
                std::swap(a[i], a[j]);
                ++i;
                --j;
            }
        }
        if (j - lo < hi - i) {
            if (lo < j) quickSort(a, lo, j, cmp);
            lo = i;
        } else {
            if (i < hi) quickSort(a, i, hi, cmp);
            hi = j;
        }
    }
}

// Days from 1970-01-01 of a civil date (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool readNumber(std::string_view s, size_t& i, int minDigits, int maxDigits, int& out) {
    int n = 0, value = 0;
    while (i < s.size() && n < maxDigits && s[i] >= '0' && s[i] <= '9') {
        value = value * 10 + (s[i] - '0');
        ++i;
        ++n;
    }
    out = value;
    return n >= minDigits;
}

bool readTime(std::string_view s, size_t& i, bool secondsRequired, int& h, int& m, int& sec) {
    sec = 0;
    if (!readNumber(s, i, 1, 2, h) || i >= s.size() || s[i] != ':') return false;
    ++i;
    if (!readNumber(s, i, 2, 2, m)) return false;
    if (i < s.size() && s[i] == ':') {
        ++i;
        if (!readNumber(s, i, 2, 2, sec)) return false;
    } else if (secondsRequired) {
        return false;
    }
    return h <= 23 && m <= 59 && sec <= 59;
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
    record.progress.assign(columns_.size(), PROGRESS_DATA{});
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
        // Rows are gone at this point; kept general so a column added later grows every row.
        for (ListRow& row : rows_) {
            row.texts.emplace_back();
            if (row.record) {
                row.record->textColors.push_back(DEVICE_LIST_DEFAULT_COLOR);
                row.record->backColors.push_back(DEVICE_LIST_DEFAULT_COLOR);
                row.record->progress.emplace_back();
            }
        }
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

int DeviceList::InsertItem(int index, const std::string& text) {
    checkThread();
    if (index < 0) return -1;
    index = std::min(index, RowCount());
    ListRow row;
    row.texts.assign(columns_.size(), std::string());
    if (!row.texts.empty()) row.texts[0] = text;
    notify([index](DeviceListObserver& o) { o.rowsAboutToBeInserted(index, index); });
    rows_.insert(rows_.begin() + index, std::move(row));
    notify([index](DeviceListObserver& o) { o.rowsInserted(index, index); });
    return index;
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

int DeviceList::AttachRowRecord(int row) {
    checkThread();
    if (row < 0 || row >= RowCount() || rows_[row].record) return 0;
    rows_[row].record = newRecord();
    rows_[row].record->ownerValue = rows_[row].itemData;
    return 1;
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
        if (rows_[r].record) {
            std::vector<int32_t>& cells = (*rows_[r].record).*colors;
            std::fill(cells.begin(), cells.end(), color);
        }
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
    if (row < 0 || row >= RowCount() || !rows_[row].record) return DEVICE_LIST_DEFAULT_COLOR;
    const auto& colors = rows_[row].record->textColors;
    return column >= 0 && column < static_cast<int>(colors.size()) ? colors[column]
                                                                   : DEVICE_LIST_DEFAULT_COLOR;
}

int32_t DeviceList::GetCellBackColor(int row, int column) const {
    checkThread();
    if (row < 0 || row >= RowCount() || !rows_[row].record) return DEVICE_LIST_DEFAULT_COLOR;
    const auto& colors = rows_[row].record->backColors;
    return column >= 0 && column < static_cast<int>(colors.size()) ? colors[column]
                                                                   : DEVICE_LIST_DEFAULT_COLOR;
}

// ---- check boxes, selection, focus --------------------------------------------------------------

int DeviceList::LockRowCheck(int row) {
    checkThread();
    if (row < 0 || row >= RowCount() || !rows_[row].record) return 0;
    rows_[row].record->checkEnabled = 0;
    return 1;
}

int DeviceList::UnlockRowCheck(int row) {
    checkThread();
    if (row < 0 || row >= RowCount() || !rows_[row].record) return 0;
    rows_[row].record->checkEnabled = 1;
    return 1;
}

bool DeviceList::IsRowCheckLocked(int row) const {
    checkThread();
    return row >= 0 && row < RowCount() && rows_[row].record && rows_[row].record->checkEnabled == 0;
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

int DeviceList::ClickCheck(int row, int mouseMessage) {
    checkThread();
    if (row < 0 || row >= RowCount()) return 0;
    ListRow& clicked = rows_[row];
    // The click toggles the box; a locked row puts it back at once and nothing else happens.
    if (clicked.record && clicked.record->checkEnabled == 0) return 0;
    clicked.checked = !clicked.checked;
    for (int r = 0; r < RowCount(); ++r) {
        rows_[r].selected = r == row;
        rows_[r].focused = r == row;
    }
    notify([row](DeviceListObserver& o) { o.cellsChanged(row, 0, 0); });
    notify([](DeviceListObserver& o) { o.selectionChanged(); });
    notify([row, mouseMessage](DeviceListObserver& o) { o.checkChanged(row, mouseMessage); });
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

// ---- item data and owner key ----------------------------------------------------------------------

int DeviceList::SetItemData(int row, uint32_t value) {
    checkThread();
    if (row < 0 || row >= RowCount()) return 0;
    if (rows_[row].record)
        rows_[row].record->ownerValue = value;
    else
        rows_[row].itemData = value;
    return 1;
}

uint32_t DeviceList::GetItemData(int row) const {
    checkThread();
    if (row < 0 || row >= RowCount()) return 0;
    return rows_[row].record ? rows_[row].record->ownerValue : rows_[row].itemData;
}

int DeviceList::SetOwnerKey(int row, uint32_t key) {
    checkThread();
    if (row < 0 || row >= RowCount() || !rows_[row].record) return 0;
    rows_[row].record->ownerKey = key;
    return 1;
}

uint32_t DeviceList::GetOwnerKey(int row) const {
    checkThread();
    if (row < 0 || row >= RowCount() || !rows_[row].record) return 0;
    return rows_[row].record->ownerKey;
}

int DeviceList::FindRowByOwnerKey(uint32_t key) const {
    checkThread();
    for (int r = 0; r < RowCount(); ++r) {
        if (rows_[r].record && rows_[r].record->ownerKey == key) return r;
    }
    return -1;
}

// ---- progress cell ---------------------------------------------------------------------------------

int DeviceList::StartCellProgress(int row) {
    checkThread();
    if (ColumnCount() < 2 || row < 0 || row >= RowCount() || !rows_[row].record) return 0;
    PROGRESS_DATA& p = rows_[row].record->progress[DEVICE_LIST_STATUS_COLUMN];
    p.inUse = 1;
    p.percent = 0;
    p.showText = 1;
    p.textFormat.clear();
    notify([row](DeviceListObserver& o) { o.progressChanged(row, DEVICE_LIST_STATUS_COLUMN); });
    return 1;
}

int DeviceList::StopCellProgress(int row) {
    checkThread();
    if (ColumnCount() < 2 || row < 0 || row >= RowCount() || !rows_[row].record) return 0;
    PROGRESS_DATA& p = rows_[row].record->progress[DEVICE_LIST_STATUS_COLUMN];
    p.inUse = 0;
    p.percent = 0;
    notify([row](DeviceListObserver& o) { o.progressChanged(row, DEVICE_LIST_STATUS_COLUMN); });
    return 1;
}

int DeviceList::SetCellProgressPercent(int row, int percent) {
    checkThread();
    if (ColumnCount() < 2 || row < 0 || row >= RowCount() || !rows_[row].record) return 0;
    rows_[row].record->progress[DEVICE_LIST_STATUS_COLUMN].percent = std::clamp(percent, 0, 100);
    return 1;
}

void DeviceList::RefreshStatusCell(int row) {
    checkThread();
    if (ColumnCount() < 2 || row < 0 || row >= RowCount()) return;
    notify([row](DeviceListObserver& o) { o.progressChanged(row, DEVICE_LIST_STATUS_COLUMN); });
}

const PROGRESS_DATA* DeviceList::CellProgress(int row, int column) const {
    checkThread();
    if (row < 0 || row >= RowCount() || !rows_[row].record) return nullptr;
    const auto& progress = rows_[row].record->progress;
    if (column < 0 || column >= static_cast<int>(progress.size())) return nullptr;
    return &progress[column];
}

// ---- sorting ------------------------------------------------------------------------------------------

void DeviceList::SortByColumn(int column, bool ascending) {
    checkThread();
    if (column < 0 || column >= ColumnCount()) return;
    sortColumn_ = column;
    sortAscending_ = ascending;

    const DeviceListDateParser& parser = dateParser_ ? dateParser_ : DeviceListDateParser(DefaultDateParser);
    std::vector<CellKey> keys;
    keys.reserve(rows_.size());
    for (const ListRow& row : rows_) keys.push_back(makeKey(row.texts[column]));

    std::vector<int> order(rows_.size());
    std::iota(order.begin(), order.end(), 0);
    if (order.size() > 1) {
        quickSort(order, 0, static_cast<int>(order.size()) - 1, [&](int a, int b) {
            const int c = compareKeys(keys[a], keys[b], parser);
            return ascending ? c : -c;
        });
    }

    notify([](DeviceListObserver& o) { o.rowsAboutToBeSorted(); });
    std::vector<ListRow> sorted;
    sorted.reserve(rows_.size());
    for (int old : order) sorted.push_back(std::move(rows_[old]));
    rows_ = std::move(sorted);
    notify([&](DeviceListObserver& o) { o.rowsSorted(column, ascending, order); });
}

void DeviceList::OnHeaderClick(int column) {
    checkThread();
    SortByColumn(column, column != sortColumn_ ? true : !sortAscending_);
}

int DeviceList::CompareCells(std::string_view a, std::string_view b) const {
    checkThread();
    const DeviceListDateParser& parser = dateParser_ ? dateParser_ : DeviceListDateParser(DefaultDateParser);
    return compareKeys(makeKey(a), makeKey(b), parser);
}

void DeviceList::SetDateParser(DeviceListDateParser parser) {
    checkThread();
    dateParser_ = std::move(parser);
}

std::optional<int64_t> DeviceList::DefaultDateParser(std::string_view s) {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    size_t i = 0;
    int first = 0;
    const bool dateFirst = readNumber(s, i, 4, 4, first) && i < s.size() && s[i] != ':';
    if (dateFirst) {
        year = first;
        const char sep = s[i];
        if (sep != '-' && sep != '/' && sep != '.') return std::nullopt;
        ++i;
        if (!readNumber(s, i, 1, 2, month) || i >= s.size() || s[i] != sep) return std::nullopt;
        ++i;
        if (!readNumber(s, i, 1, 2, day)) return std::nullopt;
        static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return std::nullopt;
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        if (month == 2 && day == 29 && !leap) return std::nullopt;
        if (i < s.size()) {
            if (s[i] != ' ' && s[i] != 'T') return std::nullopt;
            ++i;
            if (!readTime(s, i, false, hour, minute, second)) return std::nullopt;
        }
    } else {
        i = 0;  // a time of day alone: "H:MM:SS"
        if (!readTime(s, i, true, hour, minute, second)) return std::nullopt;
    }
    if (i != s.size()) return std::nullopt;
    return daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
           hour * 3600 + minute * 60 + second;
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
