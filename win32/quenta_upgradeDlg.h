// Cquenta_upgradeDlg: the operator's window on Windows (dialog 102) and its FlowUi. It mirrors the
// flow's DialogState into the controls, routes clicks to UpgradeFlow, and supplies the flow's modal
// boxes (MessageBoxW, CProgressDlg, the common file dialogs), per-row timers (SetTimer with the row's
// owner key as id) and the dispatcher's wake-up (a posted message that drains FlowDispatcher on the
// UI thread). It holds no flow logic of its own.
//
// Include it before <windows.h>: engine/flow_ui.h declares IDOK / IDYES / IDNO, which windows.h
// defines as macros.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/upgrade_flow.h"
#include "win32/dialog.h"

class CReportCtrl;
class CProgressDlg;

// Posted to the window by the dispatcher's wake-up hook; drains the flow's queue.
inline constexpr UINT WM_FLOW_WAKE = WM_APP + 1;
// Command of the about box (no control of dialog 102 carries it: the banner and the context menu do).
inline constexpr int kAboutCommand = 1026;

class Cquenta_upgradeDlg : public Dialog, public FlowUi {
  public:
    struct ShownBox {
        std::string utf8Text;
        std::string utf8Title;
        BoxIcon icon = BoxIcon::none;
        BoxButtons buttons = BoxButtons::ok;
        int answer = 0;
    };

    Cquenta_upgradeDlg();
    ~Cquenta_upgradeDlg() override;

    // Runs the window modally; returns when it closed.
    void Run();
    UpgradeFlow& flow() { return *flow_; }
    CReportCtrl& report() { return *report_; }
    bool destroyed() const { return destroyed_; }
    int modalDepth() const { return modalDepth_; }
    CProgressDlg* openProgress() const { return openProgress_; }
    bool timerRunning(std::uint32_t id) const { return timers_.count(id) != 0; }
    std::vector<HWND> modelBoxWindows() const;

    // --- FlowUi ---
    int messageBox(const std::string& utf8Text, const std::string& utf8Title, BoxIcon icon,
                   BoxButtons buttons) override;
    int runProgress(const std::string& utf8Line1, std::function<int()> task, bool makeCurrent) override;
    void progressSearch(const std::optional<std::string>& utf8Address, int count) override;
    void progressFailed(int total, int done) override;
    std::optional<std::string> chooseOpenFile(const std::string& utf8Filter) override;
    std::optional<std::string> chooseSaveFile(const std::string& utf8Filter) override;
    void stateChanged(unsigned what) override;
    void startTimer(std::uint32_t id, int ms) override;
    void stopTimer(std::uint32_t id) override;
    void closeWindow() override;

    // "昆塔升级文件|*.quenta|所有文件 (*.*)|*.*||" -> the common dialog's "\0"-separated filter.
    static std::wstring toDialogFilter(const std::string& utf8Filter);

    // --- test seams (the shipped program sets none of them) ---
    using BoxAnswerer = std::function<std::optional<int>(const ShownBox&)>;
    // Process-wide: every box (also start-up's own) goes here first; an answer means it is not shown.
    static void setBoxAnswerer(BoxAnswerer answerer);
    static std::optional<int> answerUnshown(const ShownBox& box);
    // Process-wide: called inside the window's modal loop right after it opened.
    static void setOpenedHook(std::function<void(Cquenta_upgradeDlg&)> hook);
    void setNextOpenFile(std::optional<std::string> utf8Path) {
        nextOpenFile_ = std::move(utf8Path);
        nextOpenFileSet_ = true;
    }
    void setNextSaveFile(std::optional<std::string> utf8Path) {
        nextSaveFile_ = std::move(utf8Path);
        nextSaveFileSet_ = true;
    }
    const std::vector<ShownBox>& shownBoxes() const { return shown_; }

  protected:
    bool OnInit() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(NMHDR* header) override;
    bool OnTimer(UINT_PTR id) override;
    bool OnClose() override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    void OnDestroy() override;

  private:
    struct WakeLink;
    void syncFromState(unsigned what = kChangedControls | kChangedModelBoxes | kChangedPackage);
    void rebuildModelBoxes();
    void setIp(int id, const std::string& dotted);
    std::string readIp(int id) const;
    void routeClick(int id);
    void showListMenu(POINT at);
    void showAbout();
    void closeForFlow();

    std::unique_ptr<UpgradeFlow> flow_;
    std::unique_ptr<CReportCtrl> report_;
    std::shared_ptr<WakeLink> wake_;
    HBRUSH tint_ = nullptr;         // one brush for the dialog and its controls
    HFONT modelBoxFont_ = nullptr;  // "Courier New" 8 pt
    HICON bigIcon_ = nullptr, smallIcon_ = nullptr;
    std::map<int, HWND> modelBoxes_;        // guard: UI thread; by control id
    std::set<std::uint32_t> timers_;        // guard: UI thread; running per-row timers
    CProgressDlg* current_ = nullptr;       // the progress box the flow reports to
    CProgressDlg* openProgress_ = nullptr;  // any progress box being shown
    int modalDepth_ = 0;                    // boxes open right now
    bool syncing_ = false;                  // controls are being written from the state: no handlers
    bool destroyed_ = false;
    std::deque<int> answers_;
    std::optional<std::string> nextOpenFile_, nextSaveFile_;
    bool nextOpenFileSet_ = false, nextSaveFileSet_ = false;
    std::vector<ShownBox> shown_;
};
