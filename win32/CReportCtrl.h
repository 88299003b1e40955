// CReportCtrl: the device list (control 1001) as a SysListView32 in report view over the shared
// DeviceList, which holds the rows, records, colours, progress and sort order; this class mirrors it
// into the list view and turns the view's events back into DeviceList calls. Custom draw gives each
// cell its record's colours and draws the progress cell (engine/progress_cell.h); the space bar is swallowed;
// columns 0 and 1 cannot be resized; a header click sorts through DeviceList::OnHeaderClick. Changes
// made by this class raise LVN_ITEMCHANGED too: `applying_` tells them from the operator's clicks.
// Rows that arrive in a burst (a query lists hundreds) are drawn at most every 100 ms.
// UI thread only.
#pragma once

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "engine/device_list.h"

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

class CReportCtrl : public DeviceListObserver {
  public:
    explicit CReportCtrl(DeviceList& list);
    ~CReportCtrl() override;
    CReportCtrl(const CReportCtrl&) = delete;
    CReportCtrl& operator=(const CReportCtrl&) = delete;

    // Takes over the dialog's list view: styles, subclass, tooltip, and the rows of the list.
    void Attach(HWND listView);
    void Detach();
    HWND hwnd() const { return hwnd_; }
    // Column widths are the list's 96-DPI pixels scaled to `dpi`; the columns shown are resized.
    void SetDpi(int dpi);

    // The status cell's tooltip text for a row (empty: no tip).
    void SetTipProvider(std::function<std::string(int row)> provider) { tipProvider_ = std::move(provider); }

    // Notifications the dialog forwards from WM_NOTIFY; OnCustomDraw's result goes to DWLP_MSGRESULT.
    LRESULT OnCustomDraw(NMLVCUSTOMDRAW* draw);
    // true when the change is the operator's toggle of a locked row's check box: vetoed.
    bool OnItemChanging(const NMLISTVIEW* change) const;
    // true when the change was the operator's (a click on a check box or a selection).
    bool OnItemChanged(const NMLISTVIEW* change);
    void OnColumnClick(int column);

    // The view filter: only rows for which `visible` answers true are items of the list view (a list
    // view cannot hide an item). Checks and selection stay the list's; items map to list rows. An
    // empty function shows every row. RowVisibilityChanged: rows [first, last] may have come or gone.
    void SetRowFilter(std::function<bool(int row)> visible);
    void RowVisibilityChanged(int first, int last);
    int ItemOfRow(int row) const;   // the list view item showing a list row; -1 when hidden
    int RowOfItem(int item) const;  // the list row an item shows; -1 outside
    // The header's arrow on the list's chosen sort.
    void ShowSortArrow();

    // --- DeviceListObserver ---
    void listReset() override;
    void rowsInserted(int first, int last) override;
    void rowsRemoved(int first, int last) override;
    void cellsChanged(int row, int firstColumn, int lastColumn) override;
    void colorsChanged(int firstRow, int lastRow, bool text, bool background) override;
    void progressChanged(int row, int column) override;
    void selectionChanged() override;
    void rowsSorted(int column, bool ascending, const std::vector<int>& newToOld) override;
    void redrawChanged(bool on) override;

  private:
    static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR data);
    void rebuild();
    void rebuildItems();        // the items of the rows that pass the filter
    void insertItem(int item);  // an empty item at `item`
    // Texts of columns first..last of one row (unchanged cells left alone); with column 0 also the
    // check, selection and focus.
    void writeRow(int row, int firstColumn = 0, int lastColumn = INT_MAX);
    void writeState(int row);  // check, selection and focus only, when they differ
    void updateTip(LPARAM pointerPosition);
    // Rows inserted in a burst: drawing off until kBatchMs after the first, then one redraw.
    void beginBatch();
    void endBatch();

    DeviceList& list_;
    HWND hwnd_ = nullptr;     // guard: UI thread
    HWND tooltip_ = nullptr;  // guard: UI thread
    bool applying_ = false;   // guard: UI thread; true while this class changes the view
    int dpi_ = 96;            // guard: UI thread
    bool batching_ = false;   // guard: UI thread; a burst of insertions is under way
    bool listRedraw_ = true;  // guard: UI thread; the list's own SetRedraw
    int tipRow_ = -1;         // guard: UI thread; the cell the tooltip describes
    std::wstring tipText_;    // guard: UI thread
    std::function<std::string(int row)> tipProvider_;
    std::function<bool(int row)> filter_;  // guard: UI thread; empty: every row is an item
    std::vector<int> shown_;               // guard: UI thread; with a filter: item -> row, ascending
};
