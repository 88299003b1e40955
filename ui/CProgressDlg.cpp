// CProgressDlg; see CProgressDlg.h.
#include "ui/CProgressDlg.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTimerEvent>
#include <system_error>

#include "ui/dialog_units.h"

namespace {
std::atomic<bool> g_failNextStart{false};  // test seam, read once per OnInitDialog
constexpr int kBarStep = 5;
constexpr int kBarMax = 100;
}  // namespace

void CProgressDlg::failNextThreadStartForTest() {
    g_failNextStart.store(true);
}

CProgressDlg::CProgressDlg(QWidget* parent, const QString& line1, Task task)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      lines_{line1.toStdString(), {}},
      task_(std::move(task)) {
    setModal(true);
    setObjectName(QStringLiteral("CProgressDlg"));
    setFont(dialogFont(QStringLiteral("MS Shell Dlg"), 8));
    const DialogUnits du = dialogBaseUnits(font());
    setFixedSize(du.toPixelsX(188), du.toPixelsY(65));

    line1Static_ = new QLabel(QStringLiteral("正在搜索网路......"), this);
    line1Static_->setObjectName(QStringLiteral("static1016"));
    line1Static_->setGeometry(du.toPixels(7, 7, 175, 8));
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("progress1014"));
    bar_->setGeometry(du.toPixels(7, 21, 175, 11));
    bar_->setTextVisible(false);
    bar_->setRange(0, kBarMax);
    bar_->setValue(0);
    line2Static_ = new QLabel(this);
    line2Static_->setObjectName(QStringLiteral("static1017"));
    line2Static_->setGeometry(du.toPixels(7, 36, 175, 8));
    cancelButton_ = new QPushButton(QStringLiteral("取消"), this);
    cancelButton_->setObjectName(QStringLiteral("button1015"));
    cancelButton_->setGeometry(du.toPixels(73, 49, 42, 13));
    cancelButton_->setAutoDefault(false);
    for (QLabel* label : {line1Static_, line2Static_}) {
        label->setTextFormat(Qt::PlainText);
        // A line longer than the static is cut at its right edge, as a static control does.
        label->setMinimumWidth(0);
    }
}

CProgressDlg::~CProgressDlg() {
    if (barTimer_ != 0) killTimer(barTimer_);
    if (worker_.joinable()) worker_.join();  // only reached early when the box is torn down by force
}

void CProgressDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!initialised_) {
        initialised_ = true;
        OnInitDialog();
    }
}

void CProgressDlg::OnInitDialog() {
    writeLines();
    if (task_) {
        bool started = false;
        if (!g_failNextStart.exchange(false)) {
            // std::thread reports a failed start by an exception; it stays inside this function.
            try {
                taskRunning_ = true;
                worker_ = std::thread([this, task = task_] {
                    const int result = task();
                    // WM_PROGRESS_TASK_DONE: the box is alive until this call ran (the modal run
                    // ends only through it, and the destructor joins this thread first).
                    QMetaObject::invokeMethod(
                        this, [this, result] { onTaskDone(result); }, Qt::QueuedConnection);
                });
                started = true;
            } catch (const std::system_error&) {
                started = false;
            }
        }
        if (!started) {
            taskRunning_ = false;
            startFailed_ = true;
            QMetaObject::invokeMethod(
                this, [this] { QDialog::done(QDialog::Rejected); }, Qt::QueuedConnection);
            return;
        }
    }
    cancelButton_->hide();
    barTimer_ = startTimer(100);
    bar_->setRange(0, kBarMax);
}

void CProgressDlg::onTaskDone(int result) {
    if (worker_.joinable()) worker_.join();  // the thread has returned after posting this call
    taskRunning_ = false;
    taskResult_ = result;
    QDialog::done(QDialog::Accepted);
}

void CProgressDlg::timerEvent(QTimerEvent* event) {
    if (event->timerId() != barTimer_) {
        QDialog::timerEvent(event);
        return;
    }
    const int before = bar_->value();
    if (before >= kBarMax) {
        bar_->setValue(0);
    } else {
        bar_->setValue(qMin(before + kBarStep, kBarMax));
    }
}

int CProgressDlg::barPosition() const {
    return bar_->value();
}

void CProgressDlg::OnProgressSearch(const std::optional<QString>& address, int count) {
    lines_.onSearch(address ? std::optional<std::string>(address->toStdString()) : std::nullopt, count);
    writeLines();
}

void CProgressDlg::OnProgressFailed(int total, int done) {
    lines_.onFailed(total, done);
    writeLines();
}

void CProgressDlg::writeLines() {
    line1Static_->setText(line1());
    line2Static_->setText(line2());
}

void CProgressDlg::reject() {
    if (taskRunning_) return;  // the operator cannot close the box while its task runs
    QDialog::reject();
}

void CProgressDlg::done(int result) {
    if (taskRunning_) return;
    QDialog::done(result);
}

void CProgressDlg::closeEvent(QCloseEvent* event) {
    if (taskRunning_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CProgressDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            event->accept();  // swallowed, as in the main window
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void CProgressDlg::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);  // the thin border of a caption-less pop-up
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
