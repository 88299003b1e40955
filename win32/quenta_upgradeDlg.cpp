// Cquenta_upgradeDlg; see quenta_upgradeDlg.h.
#include "win32/quenta_upgradeDlg.h"

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "engine/failure_reason.h"
#include "engine/file_filter.h"
#include "engine/list_glance.h"
#include "engine/list_menu.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "win32/CHelpDlg.h"
#include "win32/CProgressDlg.h"
#include "win32/CReportCtrl.h"
#include "win32/dialog_fit.h"
#include "win32/resource.h"
#include "win32/win32_text.h"

namespace {

constexpr COLORREF kTint = 0xF8F3F1;
constexpr int kListId = 1001;
// The status line's repaint timer: an id no row's timer has (those are device addresses, and
// 0.0.0.240 is none).
constexpr UINT_PTR kGlanceTimerId = 0xF0000000u;

// Buttons, check boxes and radios the state names (texts, enabled, checked).
constexpr int kButtonIds[] = {
    IDC_UPGRADE,      IDC_EXIT,  IDC_QUERY,       IDC_SELECT_ALL,   IDC_MODELS_ALL,  IDC_BROWSE, IDC_ADD,
    IDC_VERSION_DIFF, IDC_CLEAR, IDC_SHOW_FAILED, IDC_RADIO_SINGLE, IDC_RADIO_BATCH, IDC_VERIFY, IDC_STAGES};
constexpr int kCheckIds[] = {IDC_SELECT_ALL,   IDC_MODELS_ALL,  IDC_VERSION_DIFF, IDC_SHOW_FAILED,
                             IDC_RADIO_SINGLE, IDC_RADIO_BATCH, IDC_VERIFY,       IDC_STAGES};
constexpr int kOtherIds[] = {IDC_PATH_BOX, IDC_ADDRESS_BOX_IP, IDC_SINGLE_IP, IDC_PACKAGE_LABEL};

void setEnabled(HWND control, bool enabled) {
    if ((IsWindowEnabled(control) != FALSE) != enabled) EnableWindow(control, enabled ? TRUE : FALSE);
}

void setChecked(HWND button, bool checked) {
    const WPARAM wanted = checked ? BST_CHECKED : BST_UNCHECKED;
    if (static_cast<WPARAM>(SendMessageW(button, BM_GETCHECK, 0, 0)) != wanted)
        SendMessageW(button, BM_SETCHECK, wanted, 0);
}

UINT boxIconStyle(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::information:
            return MB_ICONINFORMATION;
        case BoxIcon::exclamation:
            return MB_ICONEXCLAMATION;
        case BoxIcon::stop:
            return MB_ICONSTOP;
        case BoxIcon::none:
            break;
    }
    return 0;
}

std::function<void(Cquenta_upgradeDlg&)>& openedHookSlot() {
    static std::function<void(Cquenta_upgradeDlg&)> hook;
    return hook;
}

}  // namespace

void Cquenta_upgradeDlg::setOpenedHook(std::function<void(Cquenta_upgradeDlg&)> hook) {
    openedHookSlot() = std::move(hook);
}

Cquenta_upgradeDlg::Cquenta_upgradeDlg() : Dialog(IDD_QUENTA_UPGRADE_DIALOG) {
    FitToWorkArea();
    flow_ = std::make_unique<UpgradeFlow>(*this);
    report_ = std::make_unique<CReportCtrl>(flow_->list());
    report_->SetTipProvider([this](int row) { return failureReasonTip(flow_->rowReason(row)); });
    flow_->glance().setOnCountsChanged([this] { scheduleGlance(); });
    flow_->glance().setOnVisibilityChanged(
        [this](int first, int last) { report_->RowVisibilityChanged(first, last); });
    HINSTANCE module = ResourceModule();
    bigIcon_ = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ =
        static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
}

Cquenta_upgradeDlg::~Cquenta_upgradeDlg() {
    flow_->glance().setOnCountsChanged({});
    flow_->glance().setOnVisibilityChanged({});
    endFlow(*flow_);
    if (wake_) wake_->detach();
    if (hwnd() != nullptr) DestroyWindow(hwnd());
    report_.reset();  // observes the flow's list: goes first
    flow_.reset();
    if (tint_ != nullptr) DeleteObject(tint_);
    if (modelBoxFont_ != nullptr) DeleteObject(modelBoxFont_);
    if (bigIcon_ != nullptr) DestroyIcon(bigIcon_);
    if (smallIcon_ != nullptr) DestroyIcon(smallIcon_);
}

bool Cquenta_upgradeDlg::Run() {
    return RunModal(nullptr) != -1;
}

bool Cquenta_upgradeDlg::OnInit() {
    // Wake-ups post WM_FLOW_WAKE to this window; OnMessage drains the flow's queue.
    wake_ = std::make_unique<FlowWake>(flow_->dispatcher(), [window = hwnd()](const std::function<void()>&) {
        return PostMessageW(window, WM_FLOW_WAKE, 0, 0) != 0;
    });
    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    tint_ = CreateSolidBrush(kTint);
    applyDpi(windowDpi(hwnd()));  // also the IP address fields' font
    report_->Attach(Item(kListId));
    report_->SetOperatorChangeHook([this] { syncFromState(kChangedControls); });
    report_->SetRowFilter([this](int row) { return flow_->glance().rowVisible(row); });
    SendMessageW(Item(IDC_GLANCE_SEARCH), EM_SETCUEBANNER, TRUE,
                 reinterpret_cast<LPARAM>(win32_widen(glancetext::kSearchHint).c_str()));
    if (!flow_->OnInitDialog()) return true;  // closeWindow already ended the loop
    syncFromState();
    refreshGlance();
    if (openedHookSlot()) {
        // Runs inside the modal loop, once the window is up.
        PostMessageW(hwnd(), WM_APP + 2, 0, 0);
    }
    return true;
}

void Cquenta_upgradeDlg::OnDestroy() {
    if (wake_) wake_->detach();
    for (std::uint32_t id : timers_) KillTimer(hwnd(), id);
    timers_.clear();
    KillTimer(hwnd(), kGlanceTimerId);
    glanceDue_ = false;
    endFlow(*flow_);
    report_->Detach();
}

std::vector<HWND> Cquenta_upgradeDlg::modelBoxWindows() const {
    std::vector<HWND> windows;
    for (const auto& [id, window] : modelBoxes_) windows.push_back(window);
    return windows;
}

// --- state -> controls ------------------------------------------------------------------------

void Cquenta_upgradeDlg::setIp(int id, const std::string& dotted) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    char tail = 0;
    HWND control = Item(id);
    if (dotted == kBlankIp || std::sscanf(dotted.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4 ||
        a > 255 || b > 255 || c > 255 || d > 255) {
        SendMessageW(control, IPM_CLEARADDRESS, 0, 0);
        return;
    }
    SendMessageW(control, IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, c, d));
}

std::string Cquenta_upgradeDlg::readIp(int id) const {
    HWND control = Item(id);
    if (SendMessageW(control, IPM_ISBLANK, 0, 0) != 0) return kBlankIp;
    DWORD address = 0;
    SendMessageW(control, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
    return std::to_string(FIRST_IPADDRESS(address)) + "." + std::to_string(SECOND_IPADDRESS(address)) + "." +
           std::to_string(THIRD_IPADDRESS(address)) + "." + std::to_string(FOURTH_IPADDRESS(address));
}

void Cquenta_upgradeDlg::syncFromState(unsigned what) {
    if (!flow_ || hwnd() == nullptr || flowEnded()) return;
    syncing_ = true;
    DialogState& state = flow_->state();
    if ((what & kRebuiltModelBoxes) != 0 || modelBoxes_.size() != state.modelBoxes.size())
        rebuildModelBoxes();
    // Only what differs is written: a sync runs on every change of the flow's state.
    for (int id : kButtonIds) {
        const ControlState& wanted = state.control(id);
        setEnabled(Item(id), wanted.enabled);
        if (!wanted.text.empty()) setItemText(id, wanted.text);
    }
    for (int id : kCheckIds) setChecked(Item(id), state.checked(id));
    for (int id : kOtherIds) setEnabled(Item(id), state.enabled(id));
    for (const ModelBox& model : state.modelBoxes) {
        auto found = modelBoxes_.find(model.id);
        if (found == modelBoxes_.end()) continue;
        setChecked(found->second, model.checked);
        setEnabled(found->second, model.enabled);
    }
    setItemText(IDC_PATH_BOX, state.text(IDC_PATH_BOX));
    setItemText(IDC_PACKAGE_LABEL, state.text(IDC_PACKAGE_LABEL));
    if (readIp(IDC_ADDRESS_BOX_IP) != state.addressBoxIp) setIp(IDC_ADDRESS_BOX_IP, state.addressBoxIp);
    if (readIp(IDC_SINGLE_IP) != state.singleIp) setIp(IDC_SINGLE_IP, state.singleIp);
    syncing_ = false;
}

void Cquenta_upgradeDlg::applyDpi(int dpi) {
    dpi_ = dpi;
    // 8 pt, shrunk by the factor the dialog's font was shrunk to fit the screen.
    const int height = -std::max(1, static_cast<int>(MulDiv(8, dpi, 72) * FontScale()));
    HFONT font =
        CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Courier New");
    if (font != nullptr) {
        for (const auto& [id, box] : modelBoxes_)
            SendMessageW(box, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        if (modelBoxFont_ != nullptr) DeleteObject(modelBoxFont_);
        modelBoxFont_ = font;
    }
    report_->SetDpi(dpi);
    const auto dialogFont = reinterpret_cast<HFONT>(SendMessageW(hwnd(), WM_GETFONT, 0, 0));
    for (int id : {IDC_ADDRESS_BOX_IP, IDC_SINGLE_IP}) setChildrenFont(Item(id), dialogFont);
    if (!modelBoxes_.empty()) {
        rebuildModelBoxes();
        syncFromState(kTickedModelBoxes);
    }
}

void Cquenta_upgradeDlg::setItemText(int id, const std::string& utf8) {
    // Unchanged texts are left alone (no repaint, no caret reset).
    const std::wstring text = win32_widen(utf8);
    HWND control = Item(id);
    const int length = GetWindowTextLengthW(control);
    std::wstring current(static_cast<std::size_t>(length) + 1, L'\0');
    current.resize(static_cast<std::size_t>(GetWindowTextW(control, current.data(), length + 1)));
    if (current != text) SetWindowTextW(control, text.c_str());
}

void Cquenta_upgradeDlg::rebuildModelBoxes() {
    for (auto& [id, window] : modelBoxes_) DestroyWindow(window);
    modelBoxes_.clear();
    for (const ModelBox& model : flow_->state().modelBoxes) {
        // Dialog units inside group box 1035 (at 0, 51) -> pixels of this dialog's font.
        RECT place{model.x, 51 + model.y, model.x + model.width, 51 + model.y + model.height};
        MapDialogRect(hwnd(), &place);
        HWND box = CreateWindowExW(0, L"BUTTON", win32_widen(model.utf8Label).c_str(),
                                   WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_CHECKBOX, place.left, place.top,
                                   place.right - place.left, place.bottom - place.top, hwnd(),
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(model.id)), ResourceModule(),
                                   nullptr);
        if (box == nullptr) continue;
        SendMessageW(box, WM_SETFONT, reinterpret_cast<WPARAM>(modelBoxFont_), FALSE);
        SetWindowPos(box, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        modelBoxes_[model.id] = box;
    }
}

// --- the status line ----------------------------------------------------------------------------

HWND Cquenta_upgradeDlg::countWindow(int code) const {
    for (size_t i = 0; i < countCodes_.size() && i < countWindows_.size(); ++i)
        if (countCodes_[i] == code && IsWindowVisible(countWindows_[i])) return countWindows_[i];
    return nullptr;
}

void Cquenta_upgradeDlg::scheduleGlance() {
    // At most one repaint per 200 ms however many rows change; the run line's estimate ticks on it.
    if (glanceDue_ || hwnd() == nullptr) return;
    glanceDue_ = SetTimer(hwnd(), kGlanceTimerId, 200, nullptr) != 0;
}

void Cquenta_upgradeDlg::refreshGlance() {
    if (hwnd() == nullptr || !flow_) return;
    const ListGlance& glance = flow_->glance();
    // The counts in the free stretch of the bottom row, left of the search field, one static each.
    RECT area{60, 451, 626, 459};
    MapDialogRect(hwnd(), &area);
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(hwnd(), WM_GETFONT, 0, 0));
    HDC dc = GetDC(hwnd());
    HGDIOBJ oldFont = SelectObject(dc, font);
    const std::vector<StatusCount> counts = glance.counts();
    countCodes_.clear();
    int x = area.left;
    for (size_t i = 0; i < counts.size(); ++i) {
        std::wstring text = win32_widen(counts[i].text + " " + std::to_string(counts[i].count));
        if (glance.filtering() && counts[i].code < 0 && glance.filter().status < 0)
            text += L" (" + std::to_wstring(glance.visibleCount()) + L")";
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        if (i == countWindows_.size()) {
            HWND created =
                CreateWindowExW(0, L"STATIC", L"", WS_CHILD | SS_NOTIFY | SS_LEFT, 0, 0, 0, 0, hwnd(),
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_GLANCE_COUNT + i)),
                                ResourceModule(), nullptr);
            if (created == nullptr) break;
            SendMessageW(created, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
            countWindows_.push_back(created);
        }
        HWND window = countWindows_[i];
        // Only what changed is written: under wine each text or move costs milliseconds, and the
        // line is refreshed five times a second during a run.
        countTexts_.resize(countWindows_.size());
        countPlaces_.resize(countWindows_.size(), RECT{-1, -1, -1, -1});
        const int width = std::min<int>(size.cx + 2, std::max<int>(0, area.right - x));
        const RECT place{x, area.top, x + width, area.bottom};
        const bool moved = !EqualRect(&place, &countPlaces_[i]) || !IsWindowVisible(window);
        if (countTexts_[i] != text) {
            SetWindowTextW(window, text.c_str());
            countTexts_[i] = text;
            if (!moved) InvalidateRect(window, nullptr, TRUE);
        }
        if (moved) {
            SetWindowPos(window, nullptr, place.left, place.top, width, place.bottom - place.top,
                         SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
            InvalidateRect(window, nullptr, TRUE);
            countPlaces_[i] = place;
        }
        countCodes_.push_back(counts[i].code);
        x += width + size.cy;  // a gap of about one character
    }
    for (size_t i = countCodes_.size(); i < countWindows_.size(); ++i)
        if (IsWindowVisible(countWindows_[i])) ShowWindow(countWindows_[i], SW_HIDE);
    SelectObject(dc, oldFont);
    ReleaseDC(hwnd(), dc);
    const std::string run = glance.running() ? runLineText(glance.runLine()) : std::string();
    setItemText(IDC_GLANCE_RUN, run);
    if (glance.running()) scheduleGlance();
}

void Cquenta_upgradeDlg::showStatus(int code) {
    ListFilter filter = flow_->glance().filter();
    filter.status = code >= 0 ? code : -1;
    if (code < 0 && !filter.search.empty()) {
        filter.search.clear();
        syncing_ = true;
        SetDlgItemTextW(hwnd(), IDC_GLANCE_SEARCH, L"");
        syncing_ = false;
    }
    flow_->glance().setFilter(filter);
    refreshGlance();
}

// --- controls -> flow -------------------------------------------------------------------------

void Cquenta_upgradeDlg::routeClick(int id) {
    // "退出" waits while a box of this window is open (it cancels a run first, then closes).
    if (id == IDC_EXIT && modalDepth() > 0) return;
    // A check box or radio toggled itself; the flow toggles its state and runs the rule, and the
    // sync below puts the control back to whatever the flow decided.
    flow_->click(id);
    syncFromState();
}

bool Cquenta_upgradeDlg::OnCommand(int id, int code, HWND control) {
    if (flowEnded()) return true;
    if (id == IDC_ADDRESS_BOX_IP || id == IDC_SINGLE_IP) {
        if (code != EN_CHANGE || syncing_) return true;
        if (id == IDC_ADDRESS_BOX_IP) {
            flow_->setAddressBoxIp(readIp(id));  // stores it and empties the list
            syncFromState();
        } else {
            flow_->setSingleIp(readIp(id));
        }
        return true;
    }
    if (id == IDC_BANNER) {
        if (code == STN_CLICKED) showAbout();
        return true;
    }
    if (id == IDC_GLANCE_SEARCH) {
        if (code == EN_CHANGE) {
            ListFilter filter = flow_->glance().filter();
            std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
            text.resize(
                static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
            filter.search = win32_narrow(text);
            flow_->glance().setFilter(filter);
        }
        return true;
    }
    if (id >= IDC_GLANCE_COUNT && id < IDC_GLANCE_COUNT + static_cast<int>(countCodes_.size())) {
        if (code == STN_CLICKED) showStatus(countCodes_[id - IDC_GLANCE_COUNT]);
        return true;
    }
    if (id == kAboutCommand) {
        showAbout();
        return true;
    }
    if (code != BN_CLICKED || syncing_) return false;
    if (control != nullptr && !IsWindowEnabled(control)) return true;  // BM_CLICK on a disabled control
    routeClick(id);
    return true;
}

bool Cquenta_upgradeDlg::OnNotify(NMHDR* header) {
    if (header->idFrom != kListId) return false;
    switch (header->code) {
        case NM_CUSTOMDRAW:
            SetMsgResult(report_->OnCustomDraw(reinterpret_cast<NMLVCUSTOMDRAW*>(header)));
            return true;
        case LVN_ITEMCHANGING:
            // A locked row's check box does not move at all (no flip and back).
            SetMsgResult(report_->OnItemChanging(reinterpret_cast<NMLISTVIEW*>(header)) ? TRUE : FALSE);
            return true;
        case LVN_ITEMCHANGED:
            if (report_->OnItemChanged(reinterpret_cast<NMLISTVIEW*>(header)))
                syncFromState(kChangedControls);
            return true;
        case LVN_GETDISPINFOW:
            report_->OnGetDispInfo(reinterpret_cast<NMLVDISPINFOW*>(header));
            return true;
        case LVN_ODSTATECHANGED:
            if (report_->OnSelectionRange()) syncFromState(kChangedControls);
            return true;
        case LVN_COLUMNCLICK:
            report_->OnColumnClick(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem);
            return true;
        default:
            return false;
    }
}

bool Cquenta_upgradeDlg::OnTimer(UINT_PTR id) {
    if (id == kGlanceTimerId) {
        KillTimer(hwnd(), kGlanceTimerId);
        glanceDue_ = false;
        if (!flowEnded()) refreshGlance();
        return true;
    }
    const auto key = static_cast<std::uint32_t>(id);
    if (timers_.count(key) == 0 || flowEnded()) return false;
    flow_->OnTimer(key);
    return true;
}

bool Cquenta_upgradeDlg::OnClose() {
    // The close box acts as "退出" (which closes the window itself when done); ignored while a box
    // of this window is open.
    if (!flowEnded() && modalDepth() == 0) {
        flow_->OnBnClickedCancel();
        syncFromState();
    }
    return true;
}

INT_PTR Cquenta_upgradeDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    switch (message) {
        case WM_FLOW_WAKE:
            if (wake_ && !flowEnded()) wake_->serve();
            return TRUE;
        case WM_APP + 2:
            if (auto& hook = openedHookSlot()) hook(*this);
            return TRUE;
        case WM_DPICHANGED:
            // The dialog manager moves and rescales the dialog first (handled stays false).
            PostMessageW(hwnd(), WM_DPI_RELAYOUT, HIWORD(wParam), 0);
            handled = false;
            return 0;
        case WM_DPI_RELAYOUT:
            if (!flowEnded() && wParam > 0) applyDpi(static_cast<int>(wParam));
            return TRUE;
        case WM_CTLCOLORSTATIC:
            // The count the list is filtered by reads blue.
            if (reinterpret_cast<HWND>(lParam) == countWindow(flow_->glance().filter().status))
                SetTextColor(reinterpret_cast<HDC>(wParam), RGB(0, 0, 255));
            SetBkColor(reinterpret_cast<HDC>(wParam), kTint);
            return reinterpret_cast<INT_PTR>(tint_);
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLOREDIT:
            SetBkColor(reinterpret_cast<HDC>(wParam), kTint);
            return reinterpret_cast<INT_PTR>(tint_);
        case WM_CONTEXTMENU: {
            POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            if (reinterpret_cast<HWND>(wParam) == Item(kListId)) {
                showListMenu(at);
            } else {
                HMENU menu = CreatePopupMenu();
                AppendMenuW(menu, MF_STRING, kAboutCommand, win32_widen(flowtext::kAboutMenu).c_str());
                const UINT chosen =
                    TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, hwnd(), nullptr);
                DestroyMenu(menu);
                if (chosen == static_cast<UINT>(kAboutCommand)) showAbout();
            }
            return TRUE;
        }
        default:
            handled = false;
            return 0;
    }
}

void Cquenta_upgradeDlg::showListMenu(POINT at) {
    if (flowEnded()) return;
    if (at.x == -1 && at.y == -1) {  // from the keyboard: at the list's corner
        RECT list{};
        GetWindowRect(Item(kListId), &list);
        at = POINT{list.left + 8, list.top + 8};
    }
    HMENU menu = CreatePopupMenu();
    for (const ListMenuEntry& entry : listMenuEntries(*flow_)) {
        if (entry.separatorBefore) AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING | (entry.enabled ? 0 : MF_GRAYED), static_cast<UINT>(entry.command),
                    win32_widen(entry.utf8Text).c_str());
    }
    const UINT chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, hwnd(), nullptr);
    DestroyMenu(menu);
    if (chosen != 0) runListCommand(*flow_, static_cast<ListCommand>(chosen));
    syncFromState();
}

void Cquenta_upgradeDlg::showAbout() {
    CHelpDlg about;
    ModalScope scope(*this);
    about.RunModal(hwnd());
}

// --- FlowUi -----------------------------------------------------------------------------------

void Cquenta_upgradeDlg::beforeMessageBox() {
    // A progress box whose task returned (e.g. "正在取消…" when the run's end arrives first) is
    // gone before the next box appears.
    if (openProgress_ != nullptr && openProgress_->TaskDone() && openProgress_->hwnd() != nullptr)
        ShowWindow(openProgress_->hwnd(), SW_HIDE);
}

int Cquenta_upgradeDlg::showMessageBox(const ShownBox& box) {
    const UINT style = boxIconStyle(box.icon) | (asksYesNo(box.buttons) ? MB_YESNO : MB_OK) |
                       (box.buttons == BoxButtons::yesNoDefaultNo ? MB_DEFBUTTON2 : 0);
    const int shown = MessageBoxW(flowEnded() ? nullptr : hwnd(), win32_widen(box.text).c_str(),
                                  win32_widen(box.title).c_str(), style);
    return asksYesNo(box.buttons) ? (shown == IDYES ? IDYES : IDNO) : IDOK;
}

int Cquenta_upgradeDlg::runProgress(const std::string& utf8Line1, std::function<int()> task,
                                    bool makeCurrent) {
    CProgressDlg box(utf8Line1, std::move(task));
    CProgressDlg* previous = current_;
    if (makeCurrent) current_ = &box;
    CProgressDlg* previousOpen = openProgress_;
    openProgress_ = &box;
    {
        ModalScope scope(*this);
        box.Run(flowEnded() ? nullptr : hwnd());
    }
    openProgress_ = previousOpen;
    if (makeCurrent) current_ = previous;
    return box.TaskResult();
}

void Cquenta_upgradeDlg::progressSearch(const std::optional<std::string>& utf8Address, int count) {
    if (current_ != nullptr) current_->OnProgressSearch(utf8Address, count);
}

void Cquenta_upgradeDlg::progressFailed(int total, int done) {
    if (current_ != nullptr) current_->OnProgressFailed(total, done);
}

std::wstring Cquenta_upgradeDlg::toDialogFilter(const FileFilters& filters) {
    std::wstring filter;
    for (const FileFilter& entry : filters) {
        filter += win32_widen(nameWithPatterns(entry)) + L'\0';
        filter += win32_widen(joinedPatterns(entry, ";")) + L'\0';
    }
    filter.push_back(L'\0');
    return filter;
}

namespace {

// The common file dialog's settings shared by open and save; `path` receives the choice.
OPENFILENAMEW fileDialog(HWND owner, const std::wstring& filter, std::wstring& path) {
    path.assign(32768, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = static_cast<DWORD>(path.size());
    return dialog;
}

// The extension of filter `index` without its dot ("csv" of "*.csv"); empty for "*.*".
std::wstring defaultExtension(const FileFilters& filters, std::size_t index) {
    if (index >= filters.size() || filters[index].patterns.empty()) return {};
    const std::string& pattern = filters[index].patterns.front();
    if (pattern.size() < 3 || pattern.compare(0, 2, "*.") != 0 || pattern == "*.*") return {};
    return win32_widen(pattern.substr(2));
}

}  // namespace

std::optional<std::string> Cquenta_upgradeDlg::showOpenFile(const FileFilters& filters) {
    const std::wstring filter = toDialogFilter(filters);
    std::wstring path;
    OPENFILENAMEW dialog = fileDialog(hwnd(), filter, path);
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&dialog)) return std::nullopt;
    path.resize(wcsnlen(path.c_str(), path.size()));
    return win32_narrow(path);
}

std::optional<std::string> Cquenta_upgradeDlg::showSaveFile(const FileFilters& filters, std::size_t& chosen) {
    const std::wstring filter = toDialogFilter(filters);
    std::wstring path;
    OPENFILENAMEW dialog = fileDialog(hwnd(), filter, path);
    const std::wstring caption = win32_widen(flowtext::kExportCaption);
    dialog.lpstrTitle = caption.c_str();
    dialog.Flags =
        OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    // The overwrite prompt checks the name with the chosen filter's extension ("report" ->
    // "report.csv"); the dialog switches it when the operator picks another filter.
    const std::wstring extension = defaultExtension(filters, 0);
    if (!extension.empty()) dialog.lpstrDefExt = extension.c_str();
    if (!GetSaveFileNameW(&dialog)) return std::nullopt;
    path.resize(wcsnlen(path.c_str(), path.size()));
    chosen = dialog.nFilterIndex > 0 ? dialog.nFilterIndex - 1 : 0;
    return win32_narrow(path);
}

void Cquenta_upgradeDlg::stateChanged(unsigned what) {
    syncFromState(what);
}

void Cquenta_upgradeDlg::startTimer(std::uint32_t id, int ms) {
    if (hwnd() == nullptr || id == 0) return;
    if (SetTimer(hwnd(), id, static_cast<UINT>(ms), nullptr) != 0) timers_.insert(id);
}

void Cquenta_upgradeDlg::stopTimer(std::uint32_t id) {
    if (timers_.erase(id) != 0 && hwnd() != nullptr) KillTimer(hwnd(), id);
}

void Cquenta_upgradeDlg::closeWindow() {
    if (endFlow(*flow_)) EndModal(IDCANCEL);
}
