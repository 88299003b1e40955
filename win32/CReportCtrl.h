// CReportCtrl: the device list (control 1001) as a virtual SysListView32 (LVS_OWNERDATA) in report
// view over the shared DeviceList, which holds the rows, records, colours, progress and sort order.
// The view stores no texts and no check boxes: it asks for the cells it draws (LVN_GETDISPINFO), so a
// row that arrives or changes costs an item count or an invalidated rectangle, never a copy. It keeps
// only selection and focus, mirrored from the list. The class turns the view's events back into
// DeviceList calls: a click on a check box goes to the list directly (a virtual view toggles
// nothing itself), a selection made with mouse or keys is read back. Custom draw gives each cell its
// record's colours and draws the progress cell (engine/progress_cell.h); the space bar is swallowed;
// columns 0 and 1 cannot be resized; a header click sorts through DeviceList::OnHeaderClick. Changes
// made by this class raise LVN_ITEMCHANGED too: `applying_` tells them from the operator's clicks.
// Rows that arrive or change in a burst (a query lists hundreds) are drawn at most every 100 ms, and
// then only the changed rows in view (painting a full view takes over 100 ms under wine).
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

    // Called after the operator changed a check box or the selection (the dialog syncs its buttons).
    void SetOperatorChangeHook(std::function<void()> hook) { operatorChanged_ = std::move(hook); }

    // The status cell's tooltip text for a row (empty: no tip).
    void SetTipProvider(std::function<std::string(int row)> provider) { tipProvider_ = std::move(provider); }

    // Notifications the dialog forwards from WM_NOTIFY; OnCustomDraw's result goes to DWLP_MSGRESULT.
    LRESULT OnCustomDraw(NMLVCUSTOMDRAW* draw);
    // A cell's text (into the view's buffer, cut to fit) and a row's check box, from the list.
    void OnGetDispInfo(NMLVDISPINFOW* info) const;
    // The operator selected a range of items (shift-click, keys): read the selection back.
    bool OnSelectionRange();
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
    void rebuildItems();       // the items of the rows that pass the filter
    void setItemCount();       // the view's count from shown_ (or the list's rows), scroll kept
    void writeStates(int firstItem);  // selection and focus of items firstItem.. from the list
    void readSelection();      // the view's selection and focus into the list
    // A click on a row's check box, taken from the view: the list decides (a locked row stays).
    bool clickCheckBox(LPARAM pointerPosition);
    void writeRow(int row);    // a row's cells or check box changed: redrawn
    void invalidateItem(int item);  // painted soon (at the batch's end during a batch)
    void invalidateAll();
    // A burst: drawing off until kBatchMs after its first change, then the changed rows in view.
    void beginBatch();
    void endBatch();
    void keepUnpainted();  // the update region a paint during the batch skipped, into unpainted_
    void writeState(int row);  // selection and focus, when they differ
    void updateTip(LPARAM pointerPosition);

    DeviceList& list_;
    HWND hwnd_ = nullptr;     // guard: UI thread
    HWND tooltip_ = nullptr;  // guard: UI thread
    bool applying_ = false;   // guard: UI thread; true while this class changes the view
    int dpi_ = 96;            // guard: UI thread
    bool listRedraw_ = true;  // guard: UI thread; the list's own SetRedraw
    bool batching_ = false;   // guard: UI thread; a burst is under way, drawing off
    int dirtyFirst_ = INT_MAX, dirtyLast_ = -1;  // guard: UI thread; items changed during the burst
    bool dirtyAll_ = false;                      // guard: UI thread; the whole view is to be painted
    HRGN unpainted_ = nullptr;                   // guard: UI thread; skipped by paints during the batch
    int tipRow_ = -1;         // guard: UI thread; the cell the tooltip describes
    std::wstring tipText_;    // guard: UI thread
    std::function<std::string(int row)> tipProvider_;
    std::function<void()> operatorChanged_;
    std::function<bool(int row)> filter_;  // guard: UI thread; empty: every row is an item
    std::vector<int> shown_;               // guard: UI thread; with a filter: item -> row, ascending
};
