// Cquenta_upgradeDlg: the operator's window on Windows (dialog 102) and its FlowUi. It mirrors the
// flow's DialogState into the controls, routes every click to the flow's one entry point
// (UpgradeFlow::click), and supplies the flow's modal boxes (MessageBoxW, CProgressDlg, the common
// file dialogs; the test seam comes first, see WindowFlowUi), per-row timers (SetTimer with the
// row's owner key as id) and the dispatcher's wake-up (FlowWake: a posted message that drains
// FlowDispatcher on the UI thread). It holds no flow logic of its own.
//
// Include it before <windows.h>: engine/flow_ui.h declares IDOK / IDYES / IDNO, which windows.h
// defines as macros.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/flow_wake.h"
#include "engine/upgrade_flow.h"
#include "engine/window_flow_ui.h"
#include "win32/dialog.h"

class CReportCtrl;
class CProgressDlg;

// Posted to the window by the dispatcher's wake-up hook; drains the flow's queue.
inline constexpr UINT WM_FLOW_WAKE = WM_APP + 1;
// Posted on WM_DPICHANGED: lays the DPI-dependent parts out again once the dialog has been rescaled.
inline constexpr UINT WM_DPI_RELAYOUT = WM_APP + 3;

class Cquenta_upgradeDlg : public Dialog, public WindowFlowUi {
  public:
    Cquenta_upgradeDlg();
    ~Cquenta_upgradeDlg() override;

    // Runs the window modally; returns when it closed, false when it could not be made. The window
    // opens fitted to its monitor's work area (win32/dialog_fit.h) and centred in it.
    bool Run();
    UpgradeFlow& flow() { return *flow_; }
    CReportCtrl& report() { return *report_; }
    bool destroyed() const { return flowEnded(); }
    CProgressDlg* openProgress() const { return openProgress_; }
    bool timerRunning(std::uint32_t id) const { return timers_.count(id) != 0; }
    std::vector<HWND> modelBoxWindows() const;
    // The status line: one clickable count per status present (全部 first; code -1), the run line
    // (IDC_GLANCE_RUN) and the search field (IDC_GLANCE_SEARCH). countWindow: the count of a status,
    // null when none is shown.
    HWND countWindow(int code) const;
    void refreshGlance();       // repaints the status line now (otherwise at most every 200 ms)
    void showStatus(int code);  // a click on a count; -1 (全部) shows every row again
    HFONT modelBoxFont() const { return modelBoxFont_; }
    int dpi() const { return dpi_; }

    // --- FlowUi ---
    int runProgress(const std::string& utf8Line1, std::function<int()> task, bool makeCurrent) override;
    void progressSearch(const std::optional<std::string>& utf8Address, int count) override;
    void progressFailed(int total, int done) override;
    void stateChanged(unsigned what) override;
    void startTimer(std::uint32_t id, int ms) override;
    void stopTimer(std::uint32_t id) override;
    void closeWindow() override;

    // The filters as the common dialog takes them: "name\0patterns\0...\0\0" (patterns joined by ';').
    static std::wstring toDialogFilter(const FileFilters& filters);

    // Test hook (the shipped program sets none), process-wide: called inside the window's modal
    // loop right after it opened.
    static void setOpenedHook(std::function<void(Cquenta_upgradeDlg&)> hook);

  protected:
    void beforeMessageBox() override;
    int showMessageBox(const ShownBox& box) override;
    std::optional<std::string> showOpenFile(const FileFilters& filters) override;
    std::optional<std::string> showSaveFile(const FileFilters& filters, std::size_t& chosen) override;
    bool OnInit() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(NMHDR* header) override;
    bool OnTimer(UINT_PTR id) override;
    bool OnClose() override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    void OnDestroy() override;

  private:
    // The model boxes are built again only on kRebuiltModelBoxes (or when their number differs).
    void syncFromState(unsigned what = kChangedControls | kTickedModelBoxes | kChangedPackage);
    void rebuildModelBoxes();
    // The model-box font ("Courier New" 8 pt, shrunk as the dialog's font) and the list's column
    // widths at `dpi`; the model boxes placed again.
    void applyDpi(int dpi);
    void setItemText(int id, const std::string& utf8);
    void setIp(int id, const std::string& dotted);
    std::string readIp(int id) const;
    void routeClick(int id);
    void showListMenu(POINT at);
    void showAbout();
    void scheduleGlance();

    std::unique_ptr<UpgradeFlow> flow_;
    std::unique_ptr<CReportCtrl> report_;
    std::unique_ptr<FlowWake> wake_;  // made once the window exists
    HBRUSH tint_ = nullptr;           // one brush for the dialog and its controls
    HFONT modelBoxFont_ = nullptr;    // "Courier New" 8 pt at dpi_
    int dpi_ = 96;
    HICON bigIcon_ = nullptr, smallIcon_ = nullptr;
    std::map<int, HWND> modelBoxes_;        // guard: UI thread; by control id
    std::set<std::uint32_t> timers_;        // guard: UI thread; running per-row timers
    CProgressDlg* current_ = nullptr;       // the progress box the flow reports to
    CProgressDlg* openProgress_ = nullptr;  // any progress box being shown
    bool syncing_ = false;                  // controls are being written from the state: no handlers
    std::vector<HWND> countWindows_;        // guard: UI thread; the status line's counts, by position
    std::vector<std::wstring> countTexts_;  // guard: UI thread; what each count window shows
    std::vector<RECT> countPlaces_;         // guard: UI thread; where each count window is
    std::vector<int> countCodes_;           // guard: UI thread; the status each shows (-1: 全部)
    bool glanceDue_ = false;                // guard: UI thread; the status line's timer runs
};
