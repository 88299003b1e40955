// Cquenta_upgradeDlg; see quenta_upgradeDlg.h.
#include "win32/quenta_upgradeDlg.h"

#include "engine/device_list.h"
#include "engine/failure_reason.h"

#include <commctrl.h>
#include <commdlg.h>

#include <atomic>
#include <cstdio>
#include <utility>

#include "win32/CHelpDlg.h"
#include "win32/CProgressDlg.h"
#include "win32/CReportCtrl.h"
#include "win32/resource.h"
#include "win32/win32_text.h"

namespace {

constexpr COLORREF kTint = 0xF8F3F1;
constexpr int kListId = 1001;
constexpr UINT kMenuRetry = 40001, kMenuRecover = 40002, kMenuExport = 40003;

// Buttons, check boxes and radios the state names (texts, enabled, checked).
constexpr int kButtonIds[] = {
    IDC_UPGRADE,      IDC_EXIT,  IDC_QUERY,       IDC_SELECT_ALL,   IDC_MODELS_ALL,  IDC_BROWSE, IDC_ADD,
    IDC_VERSION_DIFF, IDC_CLEAR, IDC_SHOW_FAILED, IDC_RADIO_SINGLE, IDC_RADIO_BATCH, IDC_VERIFY};
constexpr int kCheckIds[] = {IDC_SELECT_ALL,   IDC_MODELS_ALL,  IDC_VERSION_DIFF, IDC_SHOW_FAILED,
                             IDC_RADIO_SINGLE, IDC_RADIO_BATCH, IDC_VERIFY};
constexpr int kOtherIds[] = {IDC_PATH_BOX, IDC_ADDRESS_BOX_IP, IDC_SINGLE_IP, IDC_PACKAGE_LABEL};

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

Cquenta_upgradeDlg::BoxAnswerer& boxAnswererSlot() {
    static Cquenta_upgradeDlg::BoxAnswerer answerer;  // set by test programs before any window exists
    return answerer;
}

std::function<void(Cquenta_upgradeDlg&)>& openedHookSlot() {
    static std::function<void(Cquenta_upgradeDlg&)> hook;
    return hook;
}

// Counts a modal box for the time it is open.
class ModalScope {
  public:
    explicit ModalScope(int& depth) : depth_(depth) { ++depth_; }
    ~ModalScope() { --depth_; }
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

  private:
    int& depth_;
};

std::string windowTextUtf8(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return win32_narrow(text);
}

}  // namespace

// Ties the dispatcher's wake-up hook (called on engine threads) to the window: at most one wake-up
// message is pending; `window` is cleared before the window goes.
struct Cquenta_upgradeDlg::WakeLink {
    std::atomic<bool> scheduled{false};
    std::atomic<HWND> window{nullptr};
};

void Cquenta_upgradeDlg::setBoxAnswerer(BoxAnswerer answerer) {
    boxAnswererSlot() = std::move(answerer);
}

std::optional<int> Cquenta_upgradeDlg::answerUnshown(const ShownBox& box) {
    const BoxAnswerer& answerer = boxAnswererSlot();
    if (!answerer) return std::nullopt;
    return answerer(box);
}

void Cquenta_upgradeDlg::setOpenedHook(std::function<void(Cquenta_upgradeDlg&)> hook) {
    openedHookSlot() = std::move(hook);
}

Cquenta_upgradeDlg::Cquenta_upgradeDlg() : Dialog(IDD_QUENTA_UPGRADE_DIALOG) {
    flow_ = std::make_unique<UpgradeFlow>(*this);
    report_ = std::make_unique<CReportCtrl>(flow_->list());
    report_->SetTipProvider([this](int row) { return failureReasonText(flow_->rowReason(row)); });
    wake_ = std::make_shared<WakeLink>();
    flow_->dispatcher().setWakeup([link = wake_] {
        if (link->scheduled.exchange(true)) return;
        HWND window = link->window.load();
        if (window == nullptr || !PostMessageW(window, WM_FLOW_WAKE, 0, 0)) link->scheduled.store(false);
    });
    HINSTANCE module = ResourceModule();
    bigIcon_ = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ =
        static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
}

Cquenta_upgradeDlg::~Cquenta_upgradeDlg() {
    if (!destroyed_) {
        destroyed_ = true;
        flow_->OnDestroy();
    }
    flow_->dispatcher().setWakeup({});
    wake_->window.store(nullptr);
    if (hwnd() != nullptr) DestroyWindow(hwnd());
    report_.reset();  // observes the flow's list: goes first
    flow_.reset();
    if (tint_ != nullptr) DeleteObject(tint_);
    if (modelBoxFont_ != nullptr) DeleteObject(modelBoxFont_);
    if (bigIcon_ != nullptr) DestroyIcon(bigIcon_);
    if (smallIcon_ != nullptr) DestroyIcon(smallIcon_);
}

void Cquenta_upgradeDlg::Run() {
    RunModal(nullptr);
}

bool Cquenta_upgradeDlg::OnInit() {
    wake_->window.store(hwnd());
    SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
    SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    tint_ = CreateSolidBrush(kTint);
    HDC screen = GetDC(hwnd());
    modelBoxFont_ = CreateFontW(-MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE,
                                FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Courier New");
    ReleaseDC(hwnd(), screen);
    report_->Attach(Item(kListId));
    if (!flow_->OnInitDialog()) return true;  // closeWindow already ended the loop
    syncFromState();
    if (openedHookSlot()) {
        // Runs inside the modal loop, once the window is up.
        PostMessageW(hwnd(), WM_APP + 2, 0, 0);
    }
    return true;
}

void Cquenta_upgradeDlg::OnDestroy() {
    wake_->window.store(nullptr);
    for (std::uint32_t id : timers_) KillTimer(hwnd(), id);
    timers_.clear();
    if (!destroyed_) {
        destroyed_ = true;
        flow_->OnDestroy();
    }
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
    if (!flow_ || hwnd() == nullptr || destroyed_) return;
    syncing_ = true;
    DialogState& state = flow_->state();
    if ((what & kChangedModelBoxes) != 0 || modelBoxes_.size() != state.modelBoxes.size()) {
        // Rebuilt only when the boxes themselves changed (a click on a box only changes its state):
        // a box may be rebuilt from inside its own click otherwise.
        bool same = modelBoxes_.size() == state.modelBoxes.size();
        for (const ModelBox& model : state.modelBoxes) {
            auto found = modelBoxes_.find(model.id);
            same = same && found != modelBoxes_.end() && windowTextUtf8(found->second) == model.utf8Label;
        }
        if (!same) rebuildModelBoxes();
    }
    for (int id : kButtonIds) {
        HWND control = Item(id);
        const ControlState& wanted = state.control(id);
        EnableWindow(control, wanted.enabled ? TRUE : FALSE);
        const std::wstring text = win32_widen(wanted.text);
        wchar_t current[128] = {};
        GetWindowTextW(control, current, 128);
        if (!wanted.text.empty() && text != current) SetWindowTextW(control, text.c_str());
    }
    for (int id : kCheckIds)
        SendMessageW(Item(id), BM_SETCHECK, state.checked(id) ? BST_CHECKED : BST_UNCHECKED, 0);
    for (int id : kOtherIds) EnableWindow(Item(id), state.enabled(id) ? TRUE : FALSE);
    for (const ModelBox& model : state.modelBoxes) {
        auto found = modelBoxes_.find(model.id);
        if (found == modelBoxes_.end()) continue;
        SendMessageW(found->second, BM_SETCHECK, model.checked ? BST_CHECKED : BST_UNCHECKED, 0);
        EnableWindow(found->second, model.enabled ? TRUE : FALSE);
    }
    SetDlgItemTextW(hwnd(), IDC_PATH_BOX, win32_widen(state.text(IDC_PATH_BOX)).c_str());
    SetDlgItemTextW(hwnd(), IDC_PACKAGE_LABEL, win32_widen(state.text(IDC_PACKAGE_LABEL)).c_str());
    if (readIp(IDC_ADDRESS_BOX_IP) != state.addressBoxIp) setIp(IDC_ADDRESS_BOX_IP, state.addressBoxIp);
    if (readIp(IDC_SINGLE_IP) != state.singleIp) setIp(IDC_SINGLE_IP, state.singleIp);
    syncing_ = false;
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

// --- controls -> flow -------------------------------------------------------------------------

void Cquenta_upgradeDlg::routeClick(int id) {
    switch (id) {
        case IDC_BROWSE:
            flow_->loadPackage();
            break;
        case IDC_QUERY:
            flow_->OnBnClickedButtonQuery();
            break;
        case IDC_ADD:
            flow_->OnBnClickedButtonAdd();
            break;
        case IDC_CLEAR:
            flow_->OnBnClickedButtonClear();
            break;
        case IDC_UPGRADE:
            flow_->OnBnClickedOk();
            break;
        case IDC_EXIT:
            if (modalDepth_ == 0) flow_->OnBnClickedCancel();  // cancels a run first, then closes
            break;
        case IDC_SELECT_ALL:
        case IDC_VERSION_DIFF:
        case IDC_SHOW_FAILED:
        case IDC_VERIFY:
        case IDC_MODELS_ALL:
        case IDC_RADIO_BATCH:
        case IDC_RADIO_SINGLE:
            // The control toggled itself; the flow toggles its state and runs the rule, and the
            // sync below puts the control back to whatever the flow decided.
            flow_->click(id);
            break;
        default:
            if (id >= kFirstModelBoxId && modelBoxes_.count(id) != 0) flow_->clickModelBox(id);
            break;
    }
    syncFromState();
}

bool Cquenta_upgradeDlg::OnCommand(int id, int code, HWND control) {
    if (destroyed_) return true;
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
        case LVN_ITEMCHANGED:
            if (report_->OnItemChanged(reinterpret_cast<NMLISTVIEW*>(header)))
                syncFromState(kChangedControls);
            return true;
        case LVN_COLUMNCLICK:
            report_->OnColumnClick(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem);
            return true;
        default:
            return false;
    }
}

bool Cquenta_upgradeDlg::OnTimer(UINT_PTR id) {
    const auto key = static_cast<std::uint32_t>(id);
    if (timers_.count(key) == 0 || destroyed_) return false;
    flow_->OnTimer(key);
    return true;
}

bool Cquenta_upgradeDlg::OnClose() {
    // The close box acts as "退出" (which closes the window itself when done); ignored while a box
    // of this window is open.
    if (!destroyed_ && modalDepth_ == 0) {
        flow_->OnBnClickedCancel();
        syncFromState();
    }
    return true;
}

INT_PTR Cquenta_upgradeDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    switch (message) {
        case WM_FLOW_WAKE:
            wake_->scheduled.store(false);
            if (!destroyed_) flow_->dispatcher().drain();
            return TRUE;
        case WM_APP + 2:
            if (auto& hook = openedHookSlot()) hook(*this);
            return TRUE;
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSTATIC:
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
                AppendMenuW(menu, MF_STRING, kAboutCommand, L"关于产品升级工具(&A)...");
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
    if (destroyed_) return;
    if (at.x == -1 && at.y == -1) {  // from the keyboard: at the list's corner
        RECT list{};
        GetWindowRect(Item(kListId), &list);
        at = POINT{list.left + 8, list.top + 8};
    }
    HMENU menu = CreatePopupMenu();
    auto add = [menu](UINT id, const char* utf8, bool enabled) {
        AppendMenuW(menu, MF_STRING | (enabled ? 0 : MF_GRAYED), id, win32_widen(utf8).c_str());
    };
    add(kMenuRetry, flowtext::kRetryFailed, flow_->canRetry());
    add(kMenuRecover, flowtext::kRecoverUnanswered, flow_->canRecover());
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    add(kMenuExport, flowtext::kExportReport, flow_->list().RowCount() > 0 && !flow_->isUpgrading());
    const UINT chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, hwnd(), nullptr);
    DestroyMenu(menu);
    if (chosen == kMenuRetry) flow_->retryFailed();
    if (chosen == kMenuRecover) flow_->recoverUnanswered();
    if (chosen == kMenuExport) flow_->exportReport();
    syncFromState();
}

void Cquenta_upgradeDlg::showAbout() {
    CHelpDlg about;
    ModalScope scope(modalDepth_);
    about.RunModal(hwnd());
}

// --- FlowUi -----------------------------------------------------------------------------------

int Cquenta_upgradeDlg::messageBox(const std::string& utf8Text, const std::string& utf8Title, BoxIcon icon,
                                   BoxButtons buttons) {
    ShownBox box{utf8Text, utf8Title, icon, buttons, 0};
    std::optional<int> answer;
    if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
    } else {
        answer = answerUnshown(box);
    }
    if (!answer) {
        ModalScope scope(modalDepth_);
        const UINT style = boxIconStyle(icon) | (buttons == BoxButtons::yesNo ? MB_YESNO : MB_OK);
        const int shown = MessageBoxW(destroyed_ ? nullptr : hwnd(), win32_widen(utf8Text).c_str(),
                                      win32_widen(utf8Title).c_str(), style);
        answer = buttons == BoxButtons::yesNo ? (shown == IDYES ? IDYES : IDNO) : IDOK;
    }
    box.answer = *answer;
    shown_.push_back(box);
    return box.answer;
}

int Cquenta_upgradeDlg::runProgress(const std::string& utf8Line1, std::function<int()> task,
                                    bool makeCurrent) {
    CProgressDlg box(utf8Line1, std::move(task));
    CProgressDlg* previous = current_;
    if (makeCurrent) current_ = &box;
    CProgressDlg* previousOpen = openProgress_;
    openProgress_ = &box;
    {
        ModalScope scope(modalDepth_);
        box.Run(destroyed_ ? nullptr : hwnd());
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

std::wstring Cquenta_upgradeDlg::toDialogFilter(const std::string& utf8Filter) {
    std::wstring filter = win32_widen(utf8Filter);
    // Qt's form "A (*.a);;B (*.b)" -> "A (*.a)|*.a|B (*.b)|*.b|".
    if (filter.find(L";;") != std::wstring::npos || filter.find(L'|') == std::wstring::npos) {
        std::wstring pairs;
        size_t start = 0;
        while (start <= filter.size()) {
            size_t end = filter.find(L";;", start);
            if (end == std::wstring::npos) end = filter.size();
            const std::wstring part = filter.substr(start, end - start);
            const size_t open = part.rfind(L'('), close = part.rfind(L')');
            if (!part.empty()) {
                std::wstring patterns =
                    (open != std::wstring::npos && close != std::wstring::npos && close > open)
                        ? part.substr(open + 1, close - open - 1)
                        : L"*.*";
                for (wchar_t& ch : patterns)
                    if (ch == L' ') ch = L';';
                pairs += part + L"|" + patterns + L"|";
            }
            start = end + 2;
        }
        filter = pairs;
    }
    while (!filter.empty() && filter.back() == L'|') filter.pop_back();
    for (wchar_t& ch : filter)
        if (ch == L'|') ch = L'\0';
    filter.push_back(L'\0');
    filter.push_back(L'\0');
    return filter;
}

std::optional<std::string> Cquenta_upgradeDlg::chooseOpenFile(const std::string& utf8Filter) {
    if (nextOpenFileSet_) {
        nextOpenFileSet_ = false;
        return std::exchange(nextOpenFile_, std::nullopt);
    }
    const std::wstring filter = toDialogFilter(utf8Filter);
    std::wstring path(32768, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = hwnd();
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = static_cast<DWORD>(path.size());
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    BOOL chosen = FALSE;
    {
        ModalScope scope(modalDepth_);
        chosen = GetOpenFileNameW(&dialog);
    }
    if (!chosen) return std::nullopt;
    path.resize(wcsnlen(path.c_str(), path.size()));
    return win32_narrow(path);
}

std::optional<std::string> Cquenta_upgradeDlg::chooseSaveFile(const std::string& utf8Filter) {
    if (nextSaveFileSet_) {
        nextSaveFileSet_ = false;
        return std::exchange(nextSaveFile_, std::nullopt);
    }
    const std::wstring filter = toDialogFilter(utf8Filter);
    std::wstring path(32768, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = hwnd();
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = static_cast<DWORD>(path.size());
    dialog.lpstrTitle = L"导出报告";
    dialog.Flags =
        OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    BOOL chosen = FALSE;
    {
        ModalScope scope(modalDepth_);
        chosen = GetSaveFileNameW(&dialog);
    }
    if (!chosen) return std::nullopt;
    path.resize(wcsnlen(path.c_str(), path.size()));
    // The filter decides the format: the second ("JSON") -> .json, otherwise .csv.
    const std::wstring extension = dialog.nFilterIndex == 2 ? L".json" : L".csv";
    if (path.size() < extension.size() ||
        _wcsicmp(path.c_str() + path.size() - extension.size(), extension.c_str()) != 0) {
        path += extension;
    }
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
    closeForFlow();
}

void Cquenta_upgradeDlg::closeForFlow() {
    if (destroyed_) return;
    destroyed_ = true;
    flow_->OnDestroy();  // clears the upgrading flag, closes the dispatcher, joins the engine threads
    EndModal(IDCANCEL);
}
