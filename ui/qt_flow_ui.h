// QtFlowUi: the Qt side of FlowUi for the main window — message boxes (QMessageBox), the modal
// progress box (CProgressDlg), the file-open dialog, per-row upload timers (one QTimer per id) and
// the state-change notice forwarded to the window. Everything runs on the GUI thread, which is the
// flow thread; while a modal box is open Qt's nested event loop keeps draining the flow's dispatcher.
//
// Test seams: queued answers for the next message boxes, the next file-dialog result, a record of
// every box asked for, and a process-wide answerer that only a test program installs (the shipped
// program has no switch that answers its boxes unattended).
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/flow_ui.h"
#include "ui/CProgressDlg.h"

class QTimer;

// The caption of the file-open dialog of "浏览" (the system's own caption of an open dialog).
inline constexpr char kOpenFileCaption[] = "打开";
class QWidget;
class UpgradeFlow;

class QtFlowUi : public QObject, public FlowUi {
    Q_OBJECT
  public:
    struct ShownBox {
        std::string utf8Text;
        std::string utf8Title;
        BoxIcon icon = BoxIcon::none;
        BoxButtons buttons = BoxButtons::ok;
        int answer = 0;
    };

    // owner: parent of every box; stateSink: called on stateChanged; closeSink: called on closeWindow.
    QtFlowUi(QWidget* owner, std::function<void(unsigned)> stateSink, std::function<void()> closeSink);
    ~QtFlowUi() override;

    void setFlow(UpgradeFlow* flow) { flow_ = flow; }

    // --- FlowUi ---
    int messageBox(const std::string& utf8Text, const std::string& utf8Title, BoxIcon icon,
                   BoxButtons buttons) override;
    int runProgress(const std::string& utf8Line1, std::function<int()> task, bool makeCurrent) override;
    void progressSearch(const std::optional<std::string>& utf8Address, int count) override;
    void progressFailed(int total, int done) override;
    std::optional<std::string> chooseOpenFile(const std::string& utf8Filter) override;
    // QFileDialog (which asks before replacing a file); the extension follows the chosen filter.
    std::optional<std::string> chooseSaveFile(const std::string& utf8Filter) override;
    void stateChanged(unsigned what) override;
    void startTimer(std::uint32_t id, int ms) override;
    void stopTimer(std::uint32_t id) override;
    void closeWindow() override;

    // Number of modal boxes (message boxes, progress boxes, file dialogs) open right now.
    int modalDepth() const { return modalDepth_; }
    // The progress box being shown (any, current or not), or null.
    CProgressDlg* openProgress() const { return openProgress_; }
    bool timerRunning(std::uint32_t id) const { return timers_.count(id) != 0; }

    // "昆塔升级文件|*.quenta|所有文件 (*.*)|*.*||" -> "昆塔升级文件 (*.quenta);;所有文件 (*.*)".
    static QString toQtFilter(const QString& windowsFilter);

    // --- test seams ---
    // The next message boxes are answered with these (IDOK / IDYES / IDNO) without being shown.
    void queueAnswer(int answer) { answers_.push_back(answer); }
    void clearAnswers() { answers_.clear(); }
    // The next chooseOpenFile returns this without showing a dialog (nullopt = cancelled).
    void setNextOpenFile(std::optional<std::string> utf8Path) {
        nextOpenFile_ = std::move(utf8Path);
        nextOpenFileSet_ = true;
    }
    // Process-wide: when set, every box of every QtFlowUi (and the start-up's own error box) goes to
    // this function first; an answer means the box is not shown. Only test programs set it.
    using BoxAnswerer = std::function<std::optional<int>(const ShownBox&)>;
    static void setBoxAnswerer(BoxAnswerer answerer);
    static std::optional<int> answerUnshown(const ShownBox& box);
    // The next chooseSaveFile returns this without showing a dialog (nullopt = cancelled).
    void setNextSaveFile(std::optional<std::string> utf8Path) {
        nextSaveFile_ = std::move(utf8Path);
        nextSaveFileSet_ = true;
    }
    // Every box asked for, answered or shown, in order.
    const std::vector<ShownBox>& shownBoxes() const { return shown_; }
    void clearShownBoxes() { shown_.clear(); }
    // Called (GUI thread) right after a progress box opened; tests take screenshots here.
    void setProgressOpenedHook(std::function<void(CProgressDlg&)> hook) { progressOpened_ = std::move(hook); }

  private:
    QWidget* owner_;
    UpgradeFlow* flow_ = nullptr;
    std::function<void(unsigned)> stateSink_;
    std::function<void()> closeSink_;
    std::map<std::uint32_t, QTimer*> timers_;  // owned through QObject parenting; GUI thread only
    QPointer<CProgressDlg> current_;           // the current progress box (query / failed-device step)
    QPointer<CProgressDlg> openProgress_;
    int modalDepth_ = 0;
    std::optional<std::string> nextSaveFile_;  // test seam
    bool nextSaveFileSet_ = false;
    std::deque<int> answers_;
    std::optional<std::string> nextOpenFile_;
    bool nextOpenFileSet_ = false;
    std::vector<ShownBox> shown_;
    std::function<void(CProgressDlg&)> progressOpened_;
};
