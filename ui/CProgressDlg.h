// CProgressDlg: the small modal box shown while a long task of the batch flow runs on a worker
// thread (the connection test of a query, listing devices that never answered, waiting for running
// transfers on cancel). Two lines of text and an endlessly sweeping bar; it closes by itself when the
// task returns, and the operator cannot close it (no caption, Enter and Escape swallowed, close
// requests ignored while the task runs). The task reaches the box only through queued calls; the
// engine's progress reports arrive on the GUI thread through OnProgressSearch / OnProgressFailed.
#pragma once

#include <QDialog>
#include <QString>
#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include "engine/front_end_text.h"

class QLabel;
class QProgressBar;
class QPushButton;

class CProgressDlg : public QDialog {
    Q_OBJECT
  public:
    using Task = std::function<int()>;

    // line1: the first line's text (the static reads "正在搜索网路......" until the box opens).
    CProgressDlg(QWidget* parent, const QString& line1, Task task);
    ~CProgressDlg() override;  // joins the worker (it has returned once the modal run ended)

    // The task's result once the modal run ended (0 when the worker could not be started).
    int taskResult() const { return taskResult_; }
    // True when the worker could not be started and the box closed at once as cancelled.
    bool startFailed() const { return startFailed_; }

    // The engine's progress reports (the lines as ProgressLines formats them). GUI thread.
    void OnProgressSearch(const std::optional<QString>& address, int count);
    void OnProgressFailed(int total, int done);

    QString line1() const { return QString::fromStdString(lines_.line1); }
    QString line2() const { return QString::fromStdString(lines_.line2); }
    int barPosition() const;

    // Test seam: makes the next worker start fail as if the thread could not be created.
    static void failNextThreadStartForTest();

    void reject() override;  // ignored while the task runs
    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

  private:
    void OnInitDialog();
    void onTaskDone(int result);
    void writeLines();

    ProgressLines lines_;
    Task task_;
    QLabel* line1Static_ = nullptr;        // 1016
    QProgressBar* bar_ = nullptr;          // 1014
    QLabel* line2Static_ = nullptr;        // 1017
    QPushButton* cancelButton_ = nullptr;  // 1015, always hidden
    std::thread worker_;                   // started by OnInitDialog, joined by the destructor
    bool initialised_ = false;
    bool taskRunning_ = false;
    bool startFailed_ = false;
    int taskResult_ = 0;
    int barTimer_ = 0;
};
