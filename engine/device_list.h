// DeviceList: the rows of the device list, without any toolkit.
//
// Holds what the list control shows and keeps per row: columns (heading, width, alignment), the cell
// texts (UTF-8), the check / selection / focus state, the row's key (ownerKey) and the row record
// (per-cell text and background colours, per-cell progress, check lock), plus the sort state. How
// cells compare and sort is engine/cell_order. The Qt control (ui/CReportCtrl) and the Windows one
// (win32/CReportCtrl) are views of it; the batch flow and the command line drive it directly.
//
// Threading: a DeviceList is used on one thread only, the flow's (window's) thread. Engine threads
// hand their changes to that thread through the flow's dispatcher. Debug builds assert this; the
// thread is the one of the first call after construction (or of BindToCurrentThread()).
//
// Colours are 0x00BBGGRR values; -1 means the system default (window text / window background).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/cell_order.h"

// The click that toggled a check box, reported with the check change.
enum class CheckClick { Single, Double };

// CountRows filter bits; a row matches when it has every requested property.
enum : int {
    RC_ITEM_ALL = 0x01,
    RC_ITEM_SELECTED = 0x02,
    RC_ITEM_UNSELECTED = 0x04,
    RC_ITEM_CHECKED = 0x08,
    RC_ITEM_UNCHECKED = 0x10,
    RC_ITEM_FOCUSED = 0x20,
    RC_ITEM_UNFOCUSED = 0x40,
};

constexpr int32_t DEVICE_LIST_DEFAULT_COLOR = -1;  // system window-text / window colour
constexpr int DEVICE_LIST_STATUS_COLUMN = 1;       // the column that can show a progress bar

enum ColumnAlignment { COLUMN_ALIGN_LEFT = 0, COLUMN_ALIGN_CENTER = 1, COLUMN_ALIGN_RIGHT = 2 };

struct ListColumn {
    std::string heading;  // UTF-8
    int width = 100;      // pixels
    ColumnAlignment alignment = COLUMN_ALIGN_LEFT;
    bool editable = false;  // no cell of this list is ever editable
};

struct PROGRESS_DATA {
    int32_t inUse = 0;       // set: the cell is drawn as a progress bar instead of its text
    int32_t percent = 0;     // 0..100
    std::string textFormat;  // printf format applied to the percent; empty means "%d%%"
    int32_t showText = 0;
};

// The text of a progress cell: `textFormat` (empty: "%d%%") with "%d" replaced by the percent and
// "%%" by "%"; nothing else is interpreted, so a stray conversion never reads a missing argument.
std::string formatProgressPercent(const std::string& textFormat, int percent);

// Per-row record; the colour arrays have one entry per column, `progress` one per column up to the
// status column (the only one that shows a bar; CellProgress is null after it).
struct RowRecord {
    std::vector<int32_t> textColors;  // -1 = system window-text colour
    std::vector<int32_t> backColors;  // -1 = system window colour
    std::vector<PROGRESS_DATA> progress;
    int32_t checkEnabled = 1;  // 0 locks the check box (UnlockRowCheck frees it)
};

struct ListRow {
    std::vector<std::string> texts;  // UTF-8, one per column
    bool checked = false;
    bool selected = false;
    bool focused = false;
    uint32_t ownerKey = 0;  // the device's IPv4 value: how jobs and timers find the row after a sort
    RowRecord record;
};

// Change notices for a view. Every method has an empty default. "About to" notices come before the
// rows change, the others after, so a Qt model can bracket the change as Qt requires.
class DeviceListObserver {
  public:
    virtual ~DeviceListObserver() = default;
    virtual void listAboutToBeReset() {}  // columns and rows replaced (DefineColumns)
    virtual void listReset() {}
    virtual void rowsAboutToBeInserted(int /*first*/, int /*last*/) {}
    virtual void rowsInserted(int /*first*/, int /*last*/) {}
    virtual void rowsAboutToBeRemoved(int /*first*/, int /*last*/) {}
    virtual void rowsRemoved(int /*first*/, int /*last*/) {}
    // Text or check state of cells [firstColumn, lastColumn] of one row changed.
    virtual void cellsChanged(int /*row*/, int /*firstColumn*/, int /*lastColumn*/) {}
    // Text or background colours of rows [firstRow, lastRow] changed (all columns).
    virtual void colorsChanged(int /*firstRow*/, int /*lastRow*/, bool /*text*/, bool /*background*/) {}
    // A progress cell must be repainted (started, stopped, percent written and refreshed).
    virtual void progressChanged(int /*row*/, int /*column*/) {}
    virtual void selectionChanged() {}  // selected / focused rows changed through the list
    virtual void rowsAboutToBeSorted() {}
    // newToOld[newRow] is the row's index before the sort.
    virtual void rowsSorted(int /*column*/, bool /*ascending*/, const std::vector<int>& /*newToOld*/) {}
    // The check-change notification of a mouse click (after cellsChanged for column 0).
    virtual void checkChanged(int /*row*/, CheckClick /*click*/) {}
    virtual void redrawChanged(bool /*on*/) {}
};

class DeviceList {
  public:
    DeviceList();
    ~DeviceList();
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    // Observers are not owned; remove one before it is destroyed.
    void AddObserver(DeviceListObserver* observer);
    void RemoveObserver(DeviceListObserver* observer);
    void BindToCurrentThread();

    // --- columns -------------------------------------------------------------------------------
    // Replaces all rows and columns. "heading,width,format;heading,width,format..."; empty pieces are
    // skipped; width defaults to 100; format 1 centred, 2 right, else left. True when a column was added.
    bool DefineColumns(const std::string& description);
    int ColumnCount() const { return static_cast<int>(columns_.size()); }
    const ListColumn* Column(int column) const;  // nullptr outside
    void EnableChecks();
    bool ChecksEnabled() const { return checksEnabled_; }

    // --- rows ----------------------------------------------------------------------------------
    int RowCount() const { return static_cast<int>(rows_.size()); }
    const ListRow* Row(int row) const;  // nullptr outside
    // Inserts an empty row (key 0, default colours) at index (clamped to the end); resets the sort
    // state. Returns the new row's index, -1 for a negative index.
    int InsertRow(int index);
    int DeleteRow(int row);  // 1 deleted, 0 outside
    int DeleteAllRows();     // the number of rows there were

    // Sets a cell's text and resets the sort state. 1 / 0 outside the list.
    int SetCellText(int row, int column, const std::string& utf8);
    std::string GetItemText(int row, int column) const;  // empty outside

    // Colour of every column of a row; a row outside the list applies it to every row.
    void SetRowTextColor(int row, int32_t color);
    void SetRowBackColor(int row, int32_t color);
    int32_t GetCellTextColor(int row, int column) const;  // -1 outside
    int32_t GetCellBackColor(int row, int column) const;

    int LockRowCheck(int row);    // 1, or 0 for a row outside the list
    int UnlockRowCheck(int row);  // the check box follows clicks again; 1, or 0 as LockRowCheck
    bool IsRowCheckLocked(int row) const;
    bool GetCheck(int row) const;
    int SetCheck(int row, bool checked);  // programmatic; no notification to the parent. 1 / 0
    // A mouse click on the row's check box: toggles it; a locked row flips back and nothing else
    // happens (returns 0); otherwise the row becomes the only selected and focused row and the
    // check-change notice goes out (returns 1). 0 for a row outside the list.
    int ClickCheck(int row, CheckClick click = CheckClick::Single);

    // Selection and focus (kept in step with the view's selection).
    bool IsSelected(int row) const;
    bool IsFocused(int row) const;
    int SetSelected(int row, bool selected);  // 1 / 0 outside
    int SetFocusedRow(int row);               // -1 clears the focus; 1 / 0 outside
    int FocusedRow() const;                   // -1 when none
    // Replaces the whole selection (view -> list); notifies selectionChanged only when it differs.
    void SetSelection(const std::vector<int>& selectedRows, int focusedRow);

    int CountRows(int stateFilter) const;

    // The row's key (0 until set).
    int SetOwnerKey(int row, uint32_t key);     // 1, or 0 outside
    uint32_t GetOwnerKey(int row) const;        // 0 outside
    int FindRowByOwnerKey(uint32_t key) const;  // first row with the key, -1 when none

    // --- progress cell (the status column) -------------------------------------------------------
    int StartCellProgress(int row);  // 1 / 0: needs two columns and a row inside the list
    int StopCellProgress(int row);   // 1 / 0
    // Writes the percent (clamped to 0..100) into the status cell's progress; call RefreshStatusCell.
    int SetCellProgressPercent(int row, int percent);
    void RefreshStatusCell(int row);
    const PROGRESS_DATA* CellProgress(int row, int column) const;  // nullptr outside

    // --- sorting -------------------------------------------------------------------------------
    // Sorts all rows by column (cellSortOrder); everything of a row moves with it. Rows whose cells
    // compare equal keep numeric IP order (the owner key read as an address). Out-of-range column:
    // nothing. The sort becomes the chosen sort.
    void SortByColumn(int column, bool ascending);
    // The sort the operator chose last (the header's arrow), kept across cell changes until the
    // columns are defined again; -1 when none.
    int ChosenSortColumn() const { return chosenColumn_; }
    bool ChosenSortAscending() const { return chosenAscending_; }
    // Sorts again by the chosen sort (rows changed since); nothing when none was chosen.
    void ReapplyChosenSort();
    // A header click: same column toggles the direction, another column sorts ascending.
    void OnHeaderClick(int column);
    int SortColumn() const { return sortColumn_; }
    bool SortAscending() const { return sortAscending_; }
    // -1 / 0 / 1 under the rules of engine/cell_order with this list's date parser.
    int CompareCells(std::string_view a, std::string_view b) const;
    // Replaces the date parser (default: parseCellDate); empty restores the default.
    void SetDateParser(CellDateParser parser);

    // --- redraw --------------------------------------------------------------------------------
    void SetRedraw(bool on);
    bool RedrawEnabled() const { return redraw_; }

  private:
    void checkThread() const;
    RowRecord newRecord() const;
    void resetSortState();
    // Sets every column of `row` (every row when `row` is outside the list) in one colour array.
    void setRowColors(int row, int32_t color, std::vector<int32_t> RowRecord::*colors);
    template <typename Fn>
    void notify(Fn&& fn);

    std::vector<ListColumn> columns_;
    std::vector<ListRow> rows_;
    int sortColumn_ = -1;
    bool sortAscending_ = true;
    int chosenColumn_ = -1;
    bool chosenAscending_ = true;
    bool checksEnabled_ = false;
    bool redraw_ = true;
    CellDateParser dateParser_;
    std::vector<DeviceListObserver*> observers_;
    mutable std::thread::id owner_;  // set on first use; debug builds assert every call is on it
};
