// QtFlowUi: the Qt side of FlowUi for the main window — message boxes (QMessageBox), the modal
// progress box (CProgressDlg), the file dialogs, per-row upload timers (one QTimer per id) and the
// state-change notice forwarded to the window. Everything runs on the GUI thread, which is the flow
// thread; while a modal box is open Qt's nested event loop keeps draining the flow's dispatcher.
// Boxes and file dialogs go to the test seam first (WindowFlowUi, engine/box_seam.h).
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "engine/window_flow_ui.h"
#include "ui/CProgressDlg.h"

class QTimer;

// The caption of the file-open dialog of "浏览" (the system's own caption of an open dialog).
inline constexpr char kOpenFileCaption[] = "打开";
class QWidget;
class UpgradeFlow;

class QtFlowUi : public QObject, public WindowFlowUi {
    Q_OBJECT
  public:
    // owner: parent of every box; stateSink: called on stateChanged; closeSink: called on closeWindow.
    QtFlowUi(QWidget* owner, std::function<void(unsigned)> stateSink, std::function<void()> closeSink);
    ~QtFlowUi() override;

    void setFlow(UpgradeFlow* flow) { flow_ = flow; }

    // --- FlowUi ---
    int runProgress(const std::string& utf8Line1, std::function<int()> task, bool makeCurrent) override;
    void progressSearch(const std::optional<std::string>& utf8Address, int count) override;
    void progressFailed(int total, int done) override;
    void stateChanged(unsigned what) override;
    void startTimer(std::uint32_t id, int ms) override;
    void stopTimer(std::uint32_t id) override;
    void closeWindow() override;

    // The progress box being shown (any, current or not), or null.
    CProgressDlg* openProgress() const { return openProgress_; }
    bool timerRunning(std::uint32_t id) const { return timers_.count(id) != 0; }

    // Shows `box` as the Chinese system does (buttons "确定" or "是(&Y)" / "否(&N)"); its answer.
    static int execMessageBox(QWidget* owner, const ShownBox& box);

    // The filters in Qt's form: "昆塔升级文件 (*.quenta);;所有文件 (*.*)".
    static QString toQtFilter(const FileFilters& filters);

    // Test hook: called (GUI thread) right after a progress box opened; tests take screenshots here.
    void setProgressOpenedHook(std::function<void(CProgressDlg&)> hook) { progressOpened_ = std::move(hook); }

  protected:
    int showMessageBox(const ShownBox& box) override;
    std::optional<std::string> showOpenFile(const FileFilters& filters) override;
    // QFileDialog asks before replacing a file.
    std::optional<std::string> showSaveFile(const FileFilters& filters, std::size_t& chosen) override;

  private:
    QWidget* owner_;
    UpgradeFlow* flow_ = nullptr;
    std::function<void(unsigned)> stateSink_;
    std::function<void()> closeSink_;
    std::map<std::uint32_t, QTimer*> timers_;  // owned through QObject parenting; GUI thread only
    QPointer<CProgressDlg> current_;           // the current progress box (query / failed-device step)
    QPointer<CProgressDlg> openProgress_;
    std::function<void(CProgressDlg&)> progressOpened_;
};
