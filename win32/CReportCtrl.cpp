// CReportCtrl over SysListView32; see CReportCtrl.h.
#include "win32/CReportCtrl.h"

#include <windowsx.h>

#include <algorithm>
#include <utility>

#include "engine/progress_cell.h"
#include "win32/win32_text.h"

namespace {

constexpr UINT_PTR kSubclassId = 1;
// Rows that arrive in a burst are drawn together: the view is drawn at most this often meanwhile.
constexpr UINT_PTR kBatchTimer = 0x5151;
constexpr UINT kBatchMs = 100;

COLORREF cellColor(int32_t color, int systemDefault) {
    return color == DEVICE_LIST_DEFAULT_COLOR ? GetSysColor(systemDefault) : static_cast<COLORREF>(color);
}

RECT toRect(const CellRect& cell) {
    return RECT{cell.left, cell.top, cell.right, cell.bottom};
}

// A cell's bounds (column 0's bounds are the whole row in report view: cut to the column).
RECT subItemRect(HWND list, int row, int column) {
    RECT bounds{};
    bounds.top = column;
    bounds.left = LVIR_BOUNDS;
    SendMessageW(list, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&bounds));
    if (column == 0) bounds.right = bounds.left + ListView_GetColumnWidth(list, 0);
    return bounds;
}

}  // namespace

CReportCtrl::CReportCtrl(DeviceList& list) : list_(list) {
    list_.AddObserver(this);
}

CReportCtrl::~CReportCtrl() {
    list_.RemoveObserver(this);
    Detach();
}

void CReportCtrl::Attach(HWND listView) {
    hwnd_ = listView;
    // Report view with both scroll bars, no label editing; extended styles: full-row selection and
    // sub-item images, then grid lines and check boxes as the dialog adds them.
    // LVS_OWNERDATA cannot be switched on here: the dialog template gives it.
    LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_STYLE);
    style = (style & ~(LVS_TYPEMASK | LVS_EDITLABELS | LVS_NOSCROLL)) | LVS_REPORT | WS_HSCROLL | WS_VSCROLL;
    SetWindowLongPtrW(hwnd_, GWL_STYLE, style);
    ListView_SetExtendedListViewStyle(
        hwnd_, LVS_EX_FULLROWSELECT | LVS_EX_SUBITEMIMAGES | LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES);
    ListView_SetCallbackMask(hwnd_, LVIS_STATEIMAGEMASK);  // check boxes come from the list
    SetWindowSubclass(hwnd_, &CReportCtrl::SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));

    tooltip_ = CreateWindowExW(
        WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (tooltip_ != nullptr) {
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = hwnd_;
        tool.uId = reinterpret_cast<UINT_PTR>(hwnd_);
        tool.lpszText = LPSTR_TEXTCALLBACKW;
        SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 600);
    }
    rebuild();
}

void CReportCtrl::Detach() {
    if (hwnd_ == nullptr) return;
    endBatch();
    RemoveWindowSubclass(hwnd_, &CReportCtrl::SubclassProc, kSubclassId);
    if (tooltip_ != nullptr) DestroyWindow(tooltip_);
    tooltip_ = nullptr;
    hwnd_ = nullptr;
}

void CReportCtrl::rebuild() {
    if (hwnd_ == nullptr) return;
    applying_ = true;
    ListView_DeleteAllItems(hwnd_);
    while (ListView_DeleteColumn(hwnd_, 0)) {
    }
    for (int c = 0; c < list_.ColumnCount(); ++c) {
        const ListColumn* column = list_.Column(c);
        std::wstring heading = win32_widen(column->heading);
        LVCOLUMNW lvc{};
        lvc.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
        lvc.fmt = column->alignment == COLUMN_ALIGN_CENTER  ? LVCFMT_CENTER
                  : column->alignment == COLUMN_ALIGN_RIGHT ? LVCFMT_RIGHT
                                                            : LVCFMT_LEFT;
        lvc.cx = MulDiv(column->width, dpi_, 96);
        lvc.pszText = heading.data();
        lvc.iSubItem = c;
        SendMessageW(hwnd_, LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&lvc));
    }
    applying_ = false;
    rebuildItems();
    ShowSortArrow();
}

void CReportCtrl::setItemCount() {
    const int count = filter_ ? static_cast<int>(shown_.size()) : list_.RowCount();
    applying_ = true;
    SendMessageW(hwnd_, LVM_SETITEMCOUNT, count, LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
    applying_ = false;
}

void CReportCtrl::writeStates(int firstItem) {
    const int count = filter_ ? static_cast<int>(shown_.size()) : list_.RowCount();
    for (int item = std::max(firstItem, 0); item < count; ++item) writeState(RowOfItem(item));
}

void CReportCtrl::rebuildItems() {
    if (hwnd_ == nullptr) return;
    shown_.clear();
    if (filter_)
        for (int row = 0; row < list_.RowCount(); ++row)
            if (filter_(row)) shown_.push_back(row);
    setItemCount();
    writeStates(0);
    invalidateAll();
}

int CReportCtrl::ItemOfRow(int row) const {
    if (!filter_) return row;
    auto found = std::lower_bound(shown_.begin(), shown_.end(), row);
    return found != shown_.end() && *found == row ? static_cast<int>(found - shown_.begin()) : -1;
}

int CReportCtrl::RowOfItem(int item) const {
    if (!filter_) return item;
    return item >= 0 && item < static_cast<int>(shown_.size()) ? shown_[item] : -1;
}

void CReportCtrl::SetRowFilter(std::function<bool(int row)> visible) {
    filter_ = std::move(visible);
    rebuildItems();
}

void CReportCtrl::RowVisibilityChanged(int first, int last) {
    if (hwnd_ == nullptr || !filter_) return;
    if (last - first > 64) return rebuildItems();  // a new filter: the items once
    int firstMoved = INT_MAX;  // the first item that now shows another row
    for (int row = first; row <= last; ++row) {
        const bool visible = filter_(row);
        auto at = std::lower_bound(shown_.begin(), shown_.end(), row);
        const int item = static_cast<int>(at - shown_.begin());
        const bool present = at != shown_.end() && *at == row;
        if (visible && !present) {
            shown_.insert(at, row);
            firstMoved = std::min(firstMoved, item);
        } else if (!visible && present) {
            shown_.erase(at);
            firstMoved = std::min(firstMoved, item);
        }
    }
    if (firstMoved == INT_MAX) return;
    setItemCount();
    if (firstMoved + 1 < static_cast<int>(shown_.size())) {  // not just a row at the end
        writeStates(firstMoved);
        invalidateAll();
    } else {
        invalidateItem(firstMoved);
    }
}

void CReportCtrl::ShowSortArrow() {
    if (hwnd_ == nullptr) return;
    HWND header = ListView_GetHeader(hwnd_);
    const int chosen = list_.ChosenSortColumn();
    for (int c = 0; c < Header_GetItemCount(header); ++c) {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        if (!Header_GetItem(header, c, &item)) continue;
        const int format = item.fmt & ~(HDF_SORTUP | HDF_SORTDOWN);
        item.fmt = c != chosen ? format : format | (list_.ChosenSortAscending() ? HDF_SORTUP : HDF_SORTDOWN);
        Header_SetItem(header, c, &item);
    }
}

void CReportCtrl::SetDpi(int dpi) {
    if (dpi <= 0 || dpi == dpi_) return;
    dpi_ = dpi;
    if (hwnd_ == nullptr) return;
    applying_ = true;
    for (int c = 0; c < list_.ColumnCount(); ++c)
        ListView_SetColumnWidth(hwnd_, c, MulDiv(list_.Column(c)->width, dpi_, 96));
    applying_ = false;
}

void CReportCtrl::writeRow(int row) {
    // The view asks for texts and check box when it paints the row (LVN_GETDISPINFO); during a burst
    // the whole view is painted at its end.
    invalidateItem(ItemOfRow(row));
}

void CReportCtrl::invalidateItem(int item) {
    if (hwnd_ == nullptr || item < 0) return;
    if (batching_) {
        dirtyFirst_ = std::min(dirtyFirst_, item);
        dirtyLast_ = std::max(dirtyLast_, item);
    } else if (listRedraw_) {
        ListView_RedrawItems(hwnd_, item, item);
    }
}

void CReportCtrl::invalidateAll() {
    if (hwnd_ == nullptr) return;
    if (batching_)
        dirtyAll_ = true;
    else if (listRedraw_)
        InvalidateRect(hwnd_, nullptr, FALSE);
}

void CReportCtrl::beginBatch() {
    if (batching_ || hwnd_ == nullptr) return;
    if (SetTimer(hwnd_, kBatchTimer, kBatchMs, nullptr) == 0) return;
    batching_ = true;
    dirtyFirst_ = INT_MAX;
    dirtyLast_ = -1;
    dirtyAll_ = false;
    // Drawing off: an item count or a cell then costs no scroll bar or invalidation work (under wine
    // both take longer the more rows there are).
    if (listRedraw_) SendMessageW(hwnd_, WM_SETREDRAW, FALSE, 0);
}

void CReportCtrl::keepUnpainted() {
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    if (region == nullptr) {
        dirtyAll_ = true;
        return;
    }
    const int kind = GetUpdateRgn(hwnd_, region, FALSE);
    if (kind == ERROR) {
        dirtyAll_ = true;
    } else if (kind != NULLREGION) {
        if (unpainted_ == nullptr) unpainted_ = CreateRectRgn(0, 0, 0, 0);
        if (unpainted_ == nullptr || CombineRgn(unpainted_, unpainted_, region, RGN_OR) == ERROR) dirtyAll_ = true;
    }
    DeleteObject(region);
}

void CReportCtrl::endBatch() {
    if (!batching_) return;
    batching_ = false;
    if (hwnd_ == nullptr) return;
    KillTimer(hwnd_, kBatchTimer);
    HRGN unpainted = std::exchange(unpainted_, nullptr);
    if (!listRedraw_) {  // the list's own SetRedraw(true) repaints all
        if (unpainted != nullptr) DeleteObject(unpainted);
        return;
    }
    // Turning drawing on invalidates the whole view (wine's list view does, apps expect it); painting a
    // full view takes over 100 ms under wine. Only what was invalid before and the changed rows in
    // view are painted.
    HRGN pending = CreateRectRgn(0, 0, 0, 0);
    const int pendingKind = pending != nullptr ? GetUpdateRgn(hwnd_, pending, FALSE) : ERROR;
    SendMessageW(hwnd_, WM_SETREDRAW, TRUE, 0);
    if (dirtyAll_ || pendingKind == ERROR) {
        InvalidateRect(hwnd_, nullptr, FALSE);
    } else {
        ValidateRect(hwnd_, nullptr);
        if (pendingKind != NULLREGION) InvalidateRgn(hwnd_, pending, FALSE);
        if (unpainted != nullptr) InvalidateRgn(hwnd_, unpainted, FALSE);
        const int top = ListView_GetTopIndex(hwnd_);
        const int first = std::max(dirtyFirst_, top);
        const int last = std::min(dirtyLast_, top + ListView_GetCountPerPage(hwnd_));
        if (first <= last) ListView_RedrawItems(hwnd_, first, last);
    }
    if (pending != nullptr) DeleteObject(pending);
    if (unpainted != nullptr) DeleteObject(unpainted);
}

void CReportCtrl::writeState(int row) {
    const ListRow* data = list_.Row(row);
    const int item = ItemOfRow(row);
    if (hwnd_ == nullptr || data == nullptr || item < 0) return;
    const UINT mask = LVIS_SELECTED | LVIS_FOCUSED;
    const UINT wanted = (data->selected ? LVIS_SELECTED : 0) | (data->focused ? LVIS_FOCUSED : 0);
    if ((ListView_GetItemState(hwnd_, item, mask) & mask) == wanted) return;  // no notifications
    applying_ = true;
    ListView_SetItemState(hwnd_, item, wanted, mask);
    applying_ = false;
    if (batching_) invalidateItem(item);  // drawn at the batch's end
}

void CReportCtrl::OnGetDispInfo(NMLVDISPINFOW* info) const {
    LVITEMW& item = info->item;
    const int row = RowOfItem(item.iItem);
    const ListRow* data = list_.Row(row);
    if (data == nullptr) return;
    if ((item.mask & LVIF_TEXT) != 0 && item.pszText != nullptr && item.cchTextMax > 0) {
        const std::wstring text = item.iSubItem >= 0 && item.iSubItem < static_cast<int>(data->texts.size())
                                      ? win32_widen(data->texts[item.iSubItem])
                                      : std::wstring();
        const std::size_t length = std::min<std::size_t>(text.size(), item.cchTextMax - 1);
        text.copy(item.pszText, length);
        item.pszText[length] = L'\0';
    }
    if ((item.mask & LVIF_STATE) != 0 && (item.stateMask & LVIS_STATEIMAGEMASK) != 0 && item.iSubItem == 0) {
        item.state = (item.state & ~LVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(data->checked ? 2 : 1);
    }
}

void CReportCtrl::listReset() {
    rebuild();
}

void CReportCtrl::rowsInserted(int first, int last) {
    if (hwnd_ == nullptr) return;
    beginBatch();
    if (filter_) {  // later rows move down; the new rows come in as the filter says
        const int added = last - first + 1;
        for (int& row : shown_)
            if (row >= first) row += added;
        RowVisibilityChanged(first, last);
        return;
    }
    setItemCount();
    writeStates(first);
    if (last + 1 < list_.RowCount()) return invalidateAll();
    for (int row = first; row <= last; ++row) writeRow(row);
}

void CReportCtrl::rowsRemoved(int first, int last) {
    if (hwnd_ == nullptr) return;
    int firstMoved = first;
    if (filter_) {
        const int removed = last - first + 1;
        auto from = std::lower_bound(shown_.begin(), shown_.end(), first);
        auto to = std::upper_bound(from, shown_.end(), last);
        firstMoved = static_cast<int>(from - shown_.begin());
        for (auto at = shown_.erase(from, to); at != shown_.end(); ++at) *at -= removed;
    }
    setItemCount();
    writeStates(firstMoved);
    invalidateAll();
}

void CReportCtrl::cellsChanged(int row, int /*firstColumn*/, int /*lastColumn*/) {
    beginBatch();
    writeRow(row);
}

void CReportCtrl::colorsChanged(int firstRow, int lastRow, bool /*text*/, bool /*background*/) {
    // Painted with the next WM_PAINT (never synchronously: rows arrive in bursts).
    if (firstRow < 0 || lastRow < firstRow || lastRow >= list_.RowCount()) return invalidateAll();
    for (int row = firstRow; row <= lastRow; ++row) invalidateItem(ItemOfRow(row));
}

void CReportCtrl::progressChanged(int row, int column) {
    const int item = ItemOfRow(row);
    if (hwnd_ == nullptr || list_.ColumnCount() < 2 || item < 0) return;
    if (batching_) return invalidateItem(item);
    RECT bounds = subItemRect(hwnd_, item, column);
    InflateRect(&bounds, 2, 2);
    InvalidateRect(hwnd_, &bounds, FALSE);
}

void CReportCtrl::selectionChanged() {
    writeStates(0);
}

void CReportCtrl::rowsSorted(int /*column*/, bool /*ascending*/, const std::vector<int>& /*newToOld*/) {
    ShowSortArrow();
    if (filter_) return rebuildItems();  // the shown rows are others now
    writeStates(0);
    invalidateAll();
}

void CReportCtrl::redrawChanged(bool on) {
    listRedraw_ = on;
    if (hwnd_ == nullptr || batching_) return;  // the batch's end turns drawing back on
    SendMessageW(hwnd_, WM_SETREDRAW, on ? TRUE : FALSE, 0);
    if (on) InvalidateRect(hwnd_, nullptr, TRUE);
}

LRESULT CReportCtrl::OnCustomDraw(NMLVCUSTOMDRAW* draw) {
    switch (draw->nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
            return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT:
            return CDRF_NOTIFYSUBITEMDRAW;
        case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
            const int item = static_cast<int>(draw->nmcd.dwItemSpec);
            const int row = RowOfItem(item);
            const int column = draw->iSubItem;
            const ListRow* data = list_.Row(row);
            if (data == nullptr) return CDRF_DODEFAULT;
            draw->clrText = cellColor(list_.GetCellTextColor(row, column), COLOR_WINDOWTEXT);
            draw->clrTextBk = cellColor(list_.GetCellBackColor(row, column), COLOR_WINDOW);
            const PROGRESS_DATA* progress = list_.CellProgress(row, column);
            if (progress == nullptr || progress->inUse == 0) return CDRF_NEWFONT;
            const RECT cell = subItemRect(hwnd_, item, column);
            const ProgressCellDrawing drawing =
                progressCellDrawing(CellRect{cell.left, cell.top, cell.right, cell.bottom}, *progress);
            HDC dc = draw->nmcd.hdc;
            RECT box = toRect(drawing.box);
            FillRect(dc, &box, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
            FrameRect(dc, &box, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
            if (drawing.hasBar && drawing.bar.right > drawing.bar.left) {
                RECT bar = toRect(drawing.bar);
                HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
                FillRect(dc, &bar, green);
                DeleteObject(green);
            }
            if (drawing.hasText) {
                std::wstring text = win32_widen(drawing.text);
                RECT bounds = toRect(drawing.textBounds);
                const int oldMode = SetBkMode(dc, TRANSPARENT);
                const COLORREF oldColor = SetTextColor(dc, RGB(0, 0, 255));
                DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &bounds,
                          DT_CENTER | DT_VCENTER | DT_SINGLELINE);
                SetTextColor(dc, oldColor);
                SetBkMode(dc, oldMode);
            }
            return CDRF_SKIPDEFAULT;
        }
        default:
            return CDRF_DODEFAULT;
    }
}

bool CReportCtrl::OnItemChanging(const NMLISTVIEW* change) const {
    // Only a check box set from outside (a virtual view keeps none): vetoed on a locked row, which
    // OnItemChanged would flip back otherwise.
    if (applying_ || change->iItem < 0 || (change->uChanged & LVIF_STATE) == 0) return false;
    const UINT wanted = change->uNewState & LVIS_STATEIMAGEMASK;
    const int row = RowOfItem(change->iItem);
    return wanted != 0 && row >= 0 && (wanted >> 12 == 2) != list_.GetCheck(row) && list_.IsRowCheckLocked(row);
}

bool CReportCtrl::OnItemChanged(const NMLISTVIEW* change) {
    if (applying_ || (change->uChanged & LVIF_STATE) == 0) return false;
    const UINT checkMask = LVIS_STATEIMAGEMASK;
    if (change->iItem >= 0 && (change->uNewState & checkMask) != 0) {
        const int row = RowOfItem(change->iItem);
        const bool nowChecked = ((change->uNewState & checkMask) >> 12) == 2;
        if (row >= 0 && nowChecked != list_.GetCheck(row)) {
            // A check box set from outside, as the operator's click: the list decides.
            list_.ClickCheck(row);
            writeRow(row);  // a locked row: the box it keeps
            return true;
        }
    }
    if (((change->uNewState ^ change->uOldState) & (LVIS_SELECTED | LVIS_FOCUSED)) != 0) {
        readSelection();  // item -1: every item
        return true;
    }
    return false;
}

bool CReportCtrl::OnSelectionRange() {
    if (applying_) return false;
    readSelection();
    return true;
}

void CReportCtrl::readSelection() {
    // The operator's selection: into the list (without echoing back). Hidden rows are not selected.
    std::vector<int> selected;
    for (int i = ListView_GetNextItem(hwnd_, -1, LVNI_SELECTED); i >= 0;
         i = ListView_GetNextItem(hwnd_, i, LVNI_SELECTED)) {
        if (const int row = RowOfItem(i); row >= 0) selected.push_back(row);
    }
    const int focused = RowOfItem(ListView_GetNextItem(hwnd_, -1, LVNI_FOCUSED));
    applying_ = true;
    list_.SetSelection(selected, focused);
    applying_ = false;
}

bool CReportCtrl::clickCheckBox(LPARAM pointerPosition) {
    LVHITTESTINFO hit{};
    hit.pt = POINT{GET_X_LPARAM(pointerPosition), GET_Y_LPARAM(pointerPosition)};
    if (ListView_SubItemHitTest(hwnd_, &hit) < 0 || hit.iSubItem != 0 || (hit.flags & LVHT_ONITEMSTATEICON) == 0)
        return false;
    const int row = RowOfItem(hit.iItem);
    if (row < 0) return false;
    list_.ClickCheck(row);  // a locked row keeps its box
    writeRow(row);
    if (operatorChanged_) operatorChanged_();
    return true;
}

void CReportCtrl::OnColumnClick(int column) {
    list_.OnHeaderClick(column);
}

void CReportCtrl::updateTip(LPARAM pointerPosition) {
    if (tooltip_ == nullptr) return;
    LVHITTESTINFO hit{};
    hit.pt = POINT{GET_X_LPARAM(pointerPosition), GET_Y_LPARAM(pointerPosition)};
    const int found = ListView_SubItemHitTest(hwnd_, &hit);
    const int row = (found >= 0 && hit.iSubItem == DEVICE_LIST_STATUS_COLUMN) ? RowOfItem(hit.iItem) : -1;
    if (row == tipRow_) return;
    tipRow_ = row;
    SendMessageW(tooltip_, TTM_POP, 0, 0);  // the next show asks for the new cell's text
}

LRESULT CALLBACK CReportCtrl::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                           UINT_PTR /*id*/, DWORD_PTR data) {
    auto* self = reinterpret_cast<CReportCtrl*>(data);
    switch (message) {
        case WM_KEYDOWN:
        case WM_CHAR:
            if (wParam == VK_SPACE) return 0;  // check boxes follow the mouse only
            break;
        case WM_MOUSEMOVE:
            self->updateTip(lParam);
            break;
        case WM_TIMER:
            if (wParam == kBatchTimer) {
                self->endBatch();
                return 0;
            }
            break;
        case WM_PAINT:
            // While drawing is off the view validates what it is asked to paint (rows of the last
            // batch, a box closed over it): kept for the batch's end.
            if (self->batching_) self->keepUnpainted();
            break;
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            if (self->clickCheckBox(lParam)) return 0;  // the box only: no selection, no drag
            break;
        case WM_NOTIFY: {
            auto* header = reinterpret_cast<NMHDR*>(lParam);
            if (header->code == HDN_BEGINTRACKW || header->code == HDN_BEGINTRACKA ||
                header->code == HDN_DIVIDERDBLCLICKW || header->code == HDN_DIVIDERDBLCLICKA) {
                if (reinterpret_cast<NMHEADERW*>(lParam)->iItem < 2) return TRUE;  // columns 0, 1 fixed
            }
            if (header->hwndFrom == self->tooltip_ && header->code == TTN_GETDISPINFOW) {
                auto* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
                self->tipText_.clear();
                if (self->tipRow_ >= 0 && self->tipProvider_)
                    self->tipText_ = win32_widen(self->tipProvider_(self->tipRow_));
                info->lpszText = self->tipText_.data();
                return 0;
            }
            break;
        }
        case WM_NCDESTROY:
            RemoveWindowSubclass(hwnd, &CReportCtrl::SubclassProc, kSubclassId);
            self->hwnd_ = nullptr;
            self->tooltip_ = nullptr;  // owned by the list, destroyed with it
            self->batching_ = false;   // its timer went with it
            if (self->unpainted_ != nullptr) DeleteObject(std::exchange(self->unpainted_, nullptr));
            break;
        default:
            break;
    }
    return DefSubclassProc(hwnd, message, wParam, lParam);
}
