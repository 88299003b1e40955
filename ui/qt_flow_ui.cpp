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

}  // namespace

QtFlowUi::QtFlowUi(QWidget* owner, std::function<void(unsigned)> stateSink, std::function<void()> closeSink)
    : QObject(owner), owner_(owner), stateSink_(std::move(stateSink)), closeSink_(std::move(closeSink)) {}

QtFlowUi::~QtFlowUi() {
    for (auto& [id, timer] : timers_) delete timer;
}

int QtFlowUi::showMessageBox(const ShownBox& box) {
    return execMessageBox(owner_, box);
}

int QtFlowUi::execMessageBox(QWidget* owner, const ShownBox& box) {
    QMessageBox dialog(toQtIcon(box.icon), QString::fromStdString(box.title),
                       QString::fromStdString(box.text), QMessageBox::NoButton, owner);
    dialog.setObjectName(QStringLiteral("flowMessageBox"));
    // Button captions as the Chinese system shows them, whatever the locale of this process.
    QPushButton* yes = nullptr;
    if (asksYesNo(box.buttons)) {
        yes = dialog.addButton(QStringLiteral("是(&Y)"), QMessageBox::YesRole);
        QPushButton* no = dialog.addButton(QStringLiteral("否(&N)"), QMessageBox::NoRole);
        dialog.setDefaultButton(box.buttons == BoxButtons::yesNoDefaultNo ? no : yes);
        dialog.setEscapeButton(no);
    } else {
        QPushButton* ok = dialog.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
        dialog.setDefaultButton(ok);
        dialog.setEscapeButton(ok);
    }
    dialog.exec();
    if (asksYesNo(box.buttons)) return dialog.clickedButton() == yes ? IDYES : IDNO;
    return IDOK;
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
        ModalScope scope(*this);
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

QString QtFlowUi::toQtFilter(const FileFilters& filters) {
    QStringList names;
    for (const FileFilter& filter : filters) names << QString::fromStdString(nameWithPatterns(filter));
    return names.join(QStringLiteral(";;"));
}

std::optional<std::string> QtFlowUi::showOpenFile(const FileFilters& filters) {
    const QString chosen = QFileDialog::getOpenFileName(owner_, QString::fromUtf8(kOpenFileCaption),
                                                        QString(), toQtFilter(filters));
    if (chosen.isEmpty()) return std::nullopt;
    return chosen.toStdString();
}

std::optional<std::string> QtFlowUi::showSaveFile(const FileFilters& filters, std::size_t& chosen) {
    QString selected;
    const QString path = QFileDialog::getSaveFileName(owner_, QString::fromUtf8(flowtext::kExportCaption),
                                                      QString(), toQtFilter(filters), &selected);
    if (path.isEmpty()) return std::nullopt;
    for (std::size_t i = 0; i < filters.size(); ++i)
        if (selected == QString::fromStdString(nameWithPatterns(filters[i]))) chosen = i;
    return path.toStdString();
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
