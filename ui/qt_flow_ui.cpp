// QtFlowUi; see qt_flow_ui.h.
#include "ui/qt_flow_ui.h"
#include "engine/upgrade_flow.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "ui/CProgressDlg.h"

namespace {

QMessageBox::Icon toQtIcon(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::information:
            return QMessageBox::Information;
        case BoxIcon::exclamation:
            return QMessageBox::Warning;
        case BoxIcon::stop:
            return QMessageBox::Critical;
        case BoxIcon::none:
            break;
    }
    return QMessageBox::NoIcon;
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

// Set once by a test program before any window exists; read on the GUI thread only.
QtFlowUi::BoxAnswerer& boxAnswererSlot() {
    static QtFlowUi::BoxAnswerer answerer;
    return answerer;
}

}  // namespace

void QtFlowUi::setBoxAnswerer(BoxAnswerer answerer) {
    boxAnswererSlot() = std::move(answerer);
}

std::optional<int> QtFlowUi::answerUnshown(const ShownBox& box) {
    const BoxAnswerer& answerer = boxAnswererSlot();
    if (!answerer) return std::nullopt;
    return answerer(box);
}

QtFlowUi::QtFlowUi(QWidget* owner, std::function<void(unsigned)> stateSink, std::function<void()> closeSink)
    : QObject(owner), owner_(owner), stateSink_(std::move(stateSink)), closeSink_(std::move(closeSink)) {}

QtFlowUi::~QtFlowUi() {
    for (auto& [id, timer] : timers_) delete timer;
}

int QtFlowUi::messageBox(const std::string& utf8Text, const std::string& utf8Title, BoxIcon icon,
                         BoxButtons buttons) {
    ShownBox box{utf8Text, utf8Title, icon, buttons, 0};
    if (!answers_.empty()) {
        box.answer = answers_.front();
        answers_.pop_front();
        shown_.push_back(box);
        return box.answer;
    }
    if (std::optional<int> answer = answerUnshown(box)) {
        box.answer = *answer;
        shown_.push_back(box);
        return box.answer;
    }
    QMessageBox dialog(toQtIcon(icon), QString::fromStdString(utf8Title), QString::fromStdString(utf8Text),
                       QMessageBox::NoButton, owner_);
    dialog.setObjectName(QStringLiteral("flowMessageBox"));
    // Button captions as the Chinese system shows them, whatever the locale of this process.
    QPushButton* yes = nullptr;
    QPushButton* no = nullptr;
    QPushButton* ok = nullptr;
    if (buttons == BoxButtons::yesNo) {
        yes = dialog.addButton(QStringLiteral("是(&Y)"), QMessageBox::YesRole);
        no = dialog.addButton(QStringLiteral("否(&N)"), QMessageBox::NoRole);
        dialog.setDefaultButton(yes);
        dialog.setEscapeButton(no);
    } else {
        ok = dialog.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
        dialog.setDefaultButton(ok);
        dialog.setEscapeButton(ok);
    }
    {
        ModalScope scope(modalDepth_);
        dialog.exec();
    }
    if (buttons == BoxButtons::yesNo) {
        box.answer = dialog.clickedButton() == yes ? IDYES : IDNO;
    } else {
        box.answer = IDOK;
    }
    (void)no;
    shown_.push_back(box);
    return box.answer;
}

int QtFlowUi::runProgress(const std::string& utf8Line1, std::function<int()> task, bool makeCurrent) {
    CProgressDlg box(owner_, QString::fromStdString(utf8Line1), std::move(task));
    QPointer<CProgressDlg> previous = current_;
    if (makeCurrent) current_ = &box;
    openProgress_ = &box;
    if (progressOpened_) {
        QTimer::singleShot(0, &box, [this, &box] {
            if (progressOpened_) progressOpened_(box);
        });
    }
    {
        ModalScope scope(modalDepth_);
        box.exec();
    }
    openProgress_ = nullptr;
    if (makeCurrent) current_ = previous;
    return box.taskResult();
}

void QtFlowUi::progressSearch(const std::optional<std::string>& utf8Address, int count) {
    if (!current_) return;
    std::optional<QString> address;
    if (utf8Address) address = QString::fromStdString(*utf8Address);
    current_->OnProgressSearch(address, count);
}

void QtFlowUi::progressFailed(int total, int done) {
    if (current_) current_->OnProgressFailed(total, done);
}

QString QtFlowUi::toQtFilter(const QString& windowsFilter) {
    const QStringList parts = windowsFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        QString patterns = parts[i + 1].trimmed();
        if (description.isEmpty() && patterns.isEmpty()) break;  // the closing "||"
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        if (description.endsWith(QStringLiteral("(%1)").arg(patterns))) {
            filters << description;
        } else {
            filters << QStringLiteral("%1 (%2)").arg(description, patterns);
        }
    }
    return filters.join(QStringLiteral(";;"));
}

std::optional<std::string> QtFlowUi::chooseOpenFile(const std::string& utf8Filter) {
    if (nextOpenFileSet_) {
        nextOpenFileSet_ = false;
        return std::exchange(nextOpenFile_, std::nullopt);
    }
    QString chosen;
    {
        ModalScope scope(modalDepth_);
        chosen = QFileDialog::getOpenFileName(owner_, QString::fromUtf8(kOpenFileCaption), QString(),
                                              toQtFilter(QString::fromStdString(utf8Filter)));
    }
    if (chosen.isEmpty()) return std::nullopt;
    return chosen.toStdString();
}

std::optional<std::string> QtFlowUi::chooseSaveFile(const std::string& utf8Filter) {
    if (nextSaveFileSet_) {
        nextSaveFileSet_ = false;
        return std::exchange(nextSaveFile_, std::nullopt);
    }
    const QString filters = QString::fromStdString(utf8Filter);
    QString selected;
    QString chosen;
    {
        ModalScope scope(modalDepth_);
        chosen =
            QFileDialog::getSaveFileName(owner_, QStringLiteral("导出报告"), QString(), filters, &selected);
    }
    if (chosen.isEmpty()) return std::nullopt;
    // The filter decides the format: "... (*.json)" -> .json, otherwise .csv.
    const QString extension =
        selected.contains(QStringLiteral("*.json")) ? QStringLiteral(".json") : QStringLiteral(".csv");
    if (!chosen.endsWith(extension, Qt::CaseInsensitive)) chosen += extension;
    return chosen.toStdString();
}

void QtFlowUi::stateChanged(unsigned what) {
    if (stateSink_) stateSink_(what);
}

void QtFlowUi::startTimer(std::uint32_t id, int ms) {
    stopTimer(id);
    auto* timer = new QTimer(this);
    timer->setInterval(ms);
    connect(timer, &QTimer::timeout, this, [this, id] {
        if (flow_) flow_->OnTimer(id);
    });
    timers_[id] = timer;
    timer->start();
}

void QtFlowUi::stopTimer(std::uint32_t id) {
    auto found = timers_.find(id);
    if (found == timers_.end()) return;
    found->second->stop();
    found->second->deleteLater();
    timers_.erase(found);
}

void QtFlowUi::closeWindow() {
    if (closeSink_) closeSink_();
}
