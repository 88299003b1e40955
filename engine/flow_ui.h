// What a front end (the Qt window, the command line, a test) implements for the batch flow: modal
// message boxes, the modal progress box with its task on a worker thread, the file-open dialog,
// per-row timers, and a notice that the dialog state changed. Every call comes on the flow thread.
// While a modal box or the progress box is open the front end keeps serving the flow's dispatcher
// (FlowDispatcher::drain), because engine threads may be blocked in a send to the flow thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "engine/file_filter.h"
#include "engine/front_end_text.h"

// Message box answers, with the values of the dialog framework.
inline constexpr int IDOK = 1;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

enum class BoxIcon { none, information, exclamation, stop };
// yesNoDefaultNo: a question whose default button (Enter) is 否.
enum class BoxButtons { ok, yesNo, yesNoDefaultNo };
inline bool asksYesNo(BoxButtons buttons) {
    return buttons != BoxButtons::ok;
}

// What changed, for FlowUi::stateChanged (bits may be combined).
enum FlowStateChange : unsigned {
    kChangedControls = 1u << 0,    // enabled / checked / text of fixed controls, IP texts
    kRebuiltModelBoxes = 1u << 1,  // the model check boxes are new: build them again
    kChangedPackage = 1u << 2,     // path box and package label
    kTickedModelBoxes = 1u << 3,   // the model check boxes' ticks changed (the boxes are the same)
};

class FlowUi {
  public:
    virtual ~FlowUi() = default;

    // Modal box; returns IDOK, IDYES or IDNO. utf8Title is e.g. "错误提示".
    virtual int messageBox(const std::string& utf8Text, const std::string& utf8Title, BoxIcon icon,
                           BoxButtons buttons) = 0;

    // The modal progress box: shows utf8Line1 and a sweeping bar, runs `task` on a worker thread and
    // returns its result once it returned, serving the dispatcher meanwhile. makeCurrent: the flow
    // reports engine progress (progressSearch / progressFailed) to this box while it is open.
    virtual int runProgress(const std::string& utf8Line1, std::function<int()> task, bool makeCurrent) = 0;

    // Progress for the open progress box (called on the flow thread; ignore when no box is open).
    // The box's lines follow ProgressLines (engine/front_end_text.h), which formats them.
    virtual void progressSearch(const std::optional<std::string>& utf8Address, int count) = 0;
    virtual void progressFailed(int total, int done) = 0;

    // File-open dialog with the given filters (packageFileFilters()); UTF-8 path or none (cancel).
    virtual std::optional<std::string> chooseOpenFile(const FileFilters& filters) = 0;

    // Save dialog for the report: a UTF-8 path whose extension (".csv" or ".json") follows the filter
    // the operator chose (pathWithChosenExtension), or none (cancel). An existing file is replaced
    // only after the operator confirmed it. Front ends without one export nothing.
    virtual std::optional<std::string> chooseSaveFile(const FileFilters& /*filters*/) { return std::nullopt; }

    // How this front end's operator retries the failed devices, for the end-of-run summary.
    virtual std::string retryWay() const { return flowtext::kRetryByListMenu; }

    // The dialog state changed (FlowStateChange bits): sync the controls from UpgradeFlow::state().
    virtual void stateChanged(unsigned what) = 0;

    // Per-row upload timers: after startTimer the front end calls UpgradeFlow::OnTimer(id) every ms
    // milliseconds on the flow thread until stopTimer(id). Ids are the rows' owner keys.
    virtual void startTimer(std::uint32_t id, int ms) = 0;
    virtual void stopTimer(std::uint32_t id) = 0;

    // Close the window (after OnBnClickedCancel or a failed start-up). The front end then calls
    // UpgradeFlow::OnDestroy.
    virtual void closeWindow() = 0;
};
