// A FlowUi without windows, for the command line and the tests: message boxes are recorded (and
// printed when a stream is given) and answered by a callback (default: OK, and "No" to questions);
// the progress box runs its task on a worker thread while the calling (flow) thread serves the
// dispatcher and fires the per-row timers; the file dialog returns a preset path.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/box_seam.h"
#include "engine/flow_ui.h"

class UpgradeFlow;

class HeadlessUi : public FlowUi {
  public:
    // `progress`: where box texts and progress lines go (null: silent).
    explicit HeadlessUi(std::FILE* progress = nullptr);

    void attach(UpgradeFlow* flow) { flow_ = flow; }

    // Flow thread: serves the dispatcher and the timers until done() holds.
    void serveUntil(const std::function<bool()>& done);

    int messageBox(const std::string& utf8Text, const std::string& utf8Title, BoxIcon icon,
                   BoxButtons buttons) override;
    int runProgress(const std::string& utf8Line1, std::function<int()> task, bool makeCurrent) override;
    void progressSearch(const std::optional<std::string>& utf8Address, int count) override;
    void progressFailed(int total, int done) override;
    std::optional<std::string> chooseOpenFile(const FileFilters& filters) override;
    std::optional<std::string> chooseSaveFile(const FileFilters& filters) override;
    void stateChanged(unsigned what) override;
    void startTimer(std::uint32_t id, int ms) override;
    void stopTimer(std::uint32_t id) override;
    void closeWindow() override;

    // Answers of message boxes; default IDOK for OK boxes and IDNO for yes/no boxes.
    std::function<int(const ShownBox&)> answer;
    // Called on the flow thread about every 10 ms while a progress box is open (tests use it to
    // close the window in the middle of a task). Receives the box's line 1.
    std::function<void(const std::string& line1)> whileProgress;
    std::optional<std::string> nextOpenFile;
    std::optional<std::string> nextSaveFile;  // the report's path for the next export
    // The way to retry named in the end-of-run summary (the command line names its option).
    std::string retryWayText = flowtext::kRetryByListMenu;
    std::string retryWay() const override { return retryWayText; }

    std::vector<ShownBox> boxes;             // every box shown, in order
    std::vector<std::string> progressBoxes;  // line 1 of every progress box, in order
    int searchReports = 0, failedReports = 0;
    int lastSearchCount = 0;
    bool closeRequested = false;
    int timersRunning() const { return static_cast<int>(timers_.size()); }
    int maxTimersRunning = 0;

    // The last box with the stop icon since `from` (an index into boxes), or none.
    std::optional<ShownBox> errorSince(size_t from) const;

  private:
    void fireDueTimers();

    std::FILE* progress_;
    UpgradeFlow* flow_ = nullptr;
    struct Timer {
        int periodMs;
        std::int64_t dueMs;
    };
    std::map<std::uint32_t, Timer> timers_;  // guard: flow thread
};
