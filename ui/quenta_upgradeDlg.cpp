// Cquenta_upgradeDlg; see quenta_upgradeDlg.h.
#include "ui/quenta_upgradeDlg.h"
#include "engine/device_status.h"
#include "engine/failure_reason.h"
#include "engine/list_glance.h"
#include "engine/list_menu.h"
#include "engine/upgrade_flow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTimer>
#include <algorithm>

#include "ui/CHelpDlg.h"
#include "ui/CReportCtrl.h"
#include "ui/device_list_model.h"
#include "ui/ip_address_edit.h"
#include "ui/qt_flow_ui.h"

namespace {
const QColor kTint(0xF1, 0xF3, 0xF8);  // COLORREF 0xF8F3F1
}  // namespace

Cquenta_upgradeDlg::Cquenta_upgradeDlg(QWidget* parent, QScreen* screen)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    initUiResources();
    setObjectName(QStringLiteral("Cquenta_upgradeDlg"));
    setWindowTitle(QStringLiteral("产品升级工具"));
    setWindowIcon(QIcon(QStringLiteral(":/quenta/icon128.png")));
    if (screen != nullptr) setScreen(screen);
    // Base units from "宋体" 9 pt, made smaller together with the font where the 900 x 472-unit
    // dialog would not fit the screen (a 1366 x 768 laptop, or 150 % scaling on 1920 x 1080).
    QScreen* target = screen != nullptr ? screen : QGuiApplication::primaryScreen();
    const QSize available = target != nullptr ? target->availableGeometry().size() : QSize(1920, 1080);
    const FittedDialog fitted =
        fitDialogToArea(dialogFont(QStringLiteral("宋体"), 9), QSize(900, 472), available,
                        QSize(kFrameAllowanceWidth, kFrameAllowanceHeight));
    dialogFont_ = fitted.font;
    units_ = fitted.units;
    unitsFactor_ = fitted.factor;
    setFont(dialogFont_);
    setFixedSize(units_.toPixelsX(900), units_.toPixelsY(472));
    if (target != nullptr) {  // centred on that screen (not on the one under the mouse pointer)
        const QRect area = target->availableGeometry();
        move(area.x() + (area.width() - width()) / 2,
             area.y() + std::max((area.height() - height() - kFrameAllowanceHeight) / 2, 0) +
                 kFrameAllowanceHeight / 2);
    }

    // One solid brush for the window and every control (the device list keeps its own colours).
    QPalette tint = palette();
    tint.setColor(QPalette::Window, kTint);
    tint.setColor(QPalette::Button, kTint);
    tint.setColor(QPalette::Base, kTint);
    setPalette(tint);
    setAutoFillBackground(true);

    flowUi_ = new QtFlowUi(
        this, [this](unsigned what) { syncFromState(what); }, [this] { closeForFlow(); });
    flow_ = std::make_unique<UpgradeFlow>(*flowUi_);
    flowUi_->setFlow(flow_.get());
    // The wake-up hook posts at most one pending drain at a time to the GUI thread.
    wake_ = std::make_unique<FlowWake>(flow_->dispatcher(), [](std::function<void()> serve) {
        QMetaObject::invokeMethod(qApp, std::move(serve), Qt::QueuedConnection);
        return true;
    });

    buildControls();
    qApp->installEventFilter(this);
    OnInitDialog();
}

Cquenta_upgradeDlg::~Cquenta_upgradeDlg() {
    qApp->removeEventFilter(this);
    flow_->glance().setOnCountsChanged({});
    flow_->glance().setOnVisibilityChanged({});
    flowUi_->endFlow(*flow_);
    wake_->detach();
    flowUi_->setFlow(nullptr);
    // The list view observes the flow's device list: it goes before the flow does.
    delete list_;
    list_ = nullptr;
    flow_.reset();
}

QAbstractButton* Cquenta_upgradeDlg::addButton(int id, int x, int y, int w, int h, bool checkBox,
                                               bool radio) {
    QAbstractButton* button = nullptr;
    const QString text = QString::fromStdString(flow_->state().text(id));
    if (checkBox) {
        button = new QCheckBox(text, this);
    } else if (radio) {
        auto* radioButton = new QRadioButton(text, this);
        // The two radios lie in different groups: the window sets both whenever the mode changes.
        radioButton->setAutoExclusive(false);
        button = radioButton;
    } else {
        auto* push = new QPushButton(text, this);
        push->setAutoDefault(false);
        push->setDefault(id == IDC_UPGRADE);
        button = push;
    }
    button->setObjectName(QStringLiteral("control%1").arg(id));
    button->setGeometry(units_.toPixels(x, y, w, h));
    connect(button, &QAbstractButton::clicked, this, [this, id] { routeClick(id); });
    controls_[id] = button;
    return button;
}

QLabel* Cquenta_upgradeDlg::addStatic(const QString& text, int x, int y, int w, int h,
                                      Qt::Alignment alignment) {
    auto* label = new QLabel(text, this);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(alignment | Qt::AlignTop);
    label->setGeometry(units_.toPixels(x, y, w, h));
    return label;
}

void Cquenta_upgradeDlg::buildControls() {
    // Resource 102, in template order (positions in dialog units).
    addButton(IDC_UPGRADE, 789, 452, 50, 16, false, false);
    addButton(IDC_EXIT, 848, 452, 50, 16, false, false);
    addStatic(QStringLiteral("请选择升级文件"), 142, 43, 57, 8, Qt::AlignLeft);

    pathBox_ = new QLineEdit(this);
    pathBox_->setObjectName(QStringLiteral("control%1").arg(IDC_PATH_BOX));
    pathBox_->setReadOnly(true);
    pathBox_->setGeometry(units_.toPixels(199, 40, 309, 14));
    controls_[IDC_PATH_BOX] = pathBox_;

    addButton(IDC_BROWSE, 515, 39, 39, 14, false, false);

    auto* report = new CReportCtrl(flow_->list(), this);
    list_ = report;
    list_->setObjectName(QStringLiteral("control1001"));
    list_->setGeometry(units_.toPixels(1, 147, 897, 301));
    // The list keeps the system colours (a list view never asks its parent for a brush). Roles are
    // set one by one: a palette that sets none would inherit the window's tint.
    QPalette system = QApplication::palette();
    for (QPalette::ColorRole role :
         {QPalette::Window, QPalette::Base, QPalette::Button, QPalette::AlternateBase}) {
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            system.setColor(group, role, QApplication::palette().color(group, role));
    }
    list_->setPalette(system);
    controls_[1001] = list_;
    // The status cell's tooltip says why a row failed; the list's context menu offers retry,
    // recovery and the report.
    report->listModel()->setToolTipProvider([this](int row, int column) -> QString {
        if (column != DEVICE_COLUMN_STATUS || !flow_) return {};
        return QString::fromStdString(failureReasonTip(flow_->rowReason(row)));
    });
    report->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(report, &QWidget::customContextMenuRequested, this, [this, report](const QPoint& at) {
        QMenu* menu = buildListMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(report->viewport()->mapToGlobal(at));
    });

    addStatic(QStringLiteral("地址盒IP"), 4, 43, 33, 8, Qt::AlignLeft);
    addButton(IDC_QUERY, 55, 128, 70, 14, false, false);
    addButton(IDC_SELECT_ALL, 148, 131, 93, 10, true, false);

    addressBoxIp_ = new IpAddressEdit(this);
    addressBoxIp_->setObjectName(QStringLiteral("control%1").arg(IDC_ADDRESS_BOX_IP));
    addressBoxIp_->setGeometry(units_.toPixels(43, 39, 92, 14));
    controls_[IDC_ADDRESS_BOX_IP] = addressBoxIp_;
    connect(addressBoxIp_, &IpAddressEdit::fieldChanged, this, [this] { OnIpFieldChangedAddressBox(); });

    addButton(IDC_VERSION_DIFF, 250, 131, 126, 10, true, false);
    packageLabel_ = addStatic(QString::fromStdString(flow_->state().text(IDC_PACKAGE_LABEL)), 558, 41, 301, 8,
                              Qt::AlignHCenter);
    packageLabel_->setObjectName(QStringLiteral("control%1").arg(IDC_PACKAGE_LABEL));
    controls_[IDC_PACKAGE_LABEL] = packageLabel_;

    singleIp_ = new IpAddressEdit(this);
    singleIp_->setObjectName(QStringLiteral("control%1").arg(IDC_SINGLE_IP));
    singleIp_->setGeometry(units_.toPixels(765, 129, 88, 14));
    controls_[IDC_SINGLE_IP] = singleIp_;
    connect(singleIp_, &IpAddressEdit::fieldChanged, this, [this] {
        if (!syncing_) flow_->setSingleIp(singleIp_->text().toStdString());
    });

    addButton(IDC_ADD, 856, 129, 39, 14, false, false);
    addButton(IDC_CLEAR, 4, 452, 50, 16, false, false);
    addButton(IDC_RADIO_SINGLE, 698, 129, 56, 10, false, true);
    addButton(IDC_RADIO_BATCH, 3, 130, 48, 10, false, true);

    auto* group = new QGroupBox(this);
    group->setObjectName(QStringLiteral("control%1").arg(IDC_MODEL_GROUP));
    group->setGeometry(units_.toPixels(0, 51, 897, 74));
    group->lower();  // the model boxes are drawn over it
    controls_[IDC_MODEL_GROUP] = group;

    addButton(IDC_MODELS_ALL, 861, 39, 33, 10, true, false);

    banner_ = new QLabel(this);
    banner_->setObjectName(QStringLiteral("banner137"));
    const QPixmap bannerPicture(QStringLiteral(":/quenta/banner137.png"));
    banner_->setPixmap(bannerPicture);
    // A picture control takes the size of its bitmap.
    banner_->setGeometry(QRect(
        QPoint(0, 0), bannerPicture.isNull() ? units_.toPixels(0, 0, 15, 14).size() : bannerPicture.size()));
    banner_->setCursor(Qt::PointingHandCursor);
    banner_->setToolTip(QString::fromUtf8(flowtext::kAboutCaption));
    banner_->installEventFilter(this);

    addButton(IDC_SHOW_FAILED, 386, 131, 87, 10, true, false);
    // Not in the template: the free stretch of the row of 1030, right of it, before 1033.
    addButton(IDC_VERIFY, 482, 131, 75, 10, true, false);
    // The rest of that stretch, up to 1033.
    addButton(IDC_STAGES, 561, 131, 135, 10, true, false);

    modelBoxFont_ = dialogFont(QStringLiteral("Courier New"), 8);
    if (unitsFactor_ < 1.0) modelBoxFont_.setPointSizeF(8 * unitsFactor_);
    buildGlance();
}

void Cquenta_upgradeDlg::buildGlance() {
    // Not in the template: the free stretch of the bottom row between "  清空列表" and "升级".
    statusLine_ = addStatic(QString(), 60, 451, 566, 8, Qt::AlignLeft);
    statusLine_->setObjectName(QStringLiteral("statusLine"));
    statusLine_->setTextFormat(Qt::RichText);
    statusLine_->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    connect(statusLine_, &QLabel::linkActivated, this, [this](const QString& link) {
        bool ok = false;
        const int code = link.mid(1).toInt(&ok);
        if (ok) showStatus(code);
    });
    runLine_ = addStatic(QString(), 60, 460, 566, 8, Qt::AlignLeft);
    runLine_->setObjectName(QStringLiteral("runLine"));
    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("searchField"));
    search_->setPlaceholderText(QString::fromUtf8(glancetext::kSearchHint));
    search_->setClearButtonEnabled(true);
    search_->setGeometry(units_.toPixels(632, 453, 150, 14));
    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
        ListFilter filter = flow_->glance().filter();
        filter.search = text.toStdString();
        flow_->glance().setFilter(filter);
    });

    glanceTimer_ = new QTimer(this);
    glanceTimer_->setSingleShot(true);
    glanceTimer_->setInterval(200);
    connect(glanceTimer_, &QTimer::timeout, this, [this] { refreshGlance(); });
    ListGlance& glance = flow_->glance();
    glance.setOnCountsChanged([this] { scheduleGlance(); });
    glance.setOnVisibilityChanged([this](int first, int last) { applyRowVisibility(first, last); });
    auto* report = static_cast<CReportCtrl*>(list_);
    // Rows the model inserts take the filter's verdict (the glance saw them first).
    connect(report->listModel(), &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { applyRowVisibility(first, last); });
    connect(report->listModel(), &QAbstractItemModel::modelReset, this,
            [this] { applyRowVisibility(0, flow_->list().RowCount() - 1); });
    connect(report->listModel(), &QAbstractItemModel::layoutChanged, this, [this] {
        if (flow_->glance().filtering()) applyRowVisibility(0, flow_->list().RowCount() - 1);
    });
    refreshGlance();
}

void Cquenta_upgradeDlg::scheduleGlance() {
    // At most one repaint per interval however many rows change; the run line also ticks on it.
    if (!glanceTimer_->isActive()) glanceTimer_->start();
}

void Cquenta_upgradeDlg::refreshGlance() {
    if (!flow_ || statusLine_ == nullptr) return;
    const ListGlance& glance = flow_->glance();
    const ListFilter& filter = glance.filter();
    QString html;
    for (const StatusCount& count : glance.counts()) {
        if (!html.isEmpty()) html += QStringLiteral("&nbsp;&nbsp;");
        const bool current = count.code == filter.status;
        if (const DeviceStatusEntry* entry = deviceStatusEntry(count.code)) {
            const QColor swatch = DeviceListModel::toQColor(entry->backColor);
            html += QStringLiteral("<span style=\"color:%1\">&#9632;</span>").arg(swatch.name());
        }
        const QString piece = QStringLiteral("%1 %2").arg(QString::fromUtf8(count.text)).arg(count.count);
        html += QStringLiteral("<a href=\"s%1\" style=\"text-decoration:none\">%2%3%4</a>")
                    .arg(count.code)
                    .arg(current ? QStringLiteral("<b>") : QString(), piece.toHtmlEscaped(),
                         current ? QStringLiteral("</b>") : QString());
    }
    if (glance.filtering() && filter.status < 0)
        html += QStringLiteral("&nbsp;&nbsp;(%1)").arg(glance.visibleCount());
    if (statusLine_->text() != html) statusLine_->setText(html);
    const QString run = glance.running() ? QString::fromStdString(runLineText(glance.runLine())) : QString();
    if (runLine_->text() != run) runLine_->setText(run);
    // The estimate counts down between row changes too.
    if (glance.running()) scheduleGlance();
}

void Cquenta_upgradeDlg::showStatus(int code) {
    ListFilter filter = flow_->glance().filter();
    filter.status = code >= 0 ? code : -1;
    if (code < 0) {
        filter.search.clear();
        const QSignalBlocker block(search_);
        search_->clear();
    }
    flow_->glance().setFilter(filter);
    refreshGlance();
}

void Cquenta_upgradeDlg::applyRowVisibility(int first, int last) {
    auto* report = static_cast<CReportCtrl*>(list_);
    if (report == nullptr || !flow_) return;
    const ListGlance& glance = flow_->glance();
    last = std::min(last, report->listModel()->rowCount() - 1);
    for (int row = std::max(first, 0); row <= last; ++row) {
        const bool hidden = !glance.rowVisible(row);
        if (report->isRowHidden(row) != hidden) report->setRowHidden(row, hidden);
    }
}

void Cquenta_upgradeDlg::OnInitDialog() {
    initialised_ = flow_->OnInitDialog();
    syncFromState();
}

QWidget* Cquenta_upgradeDlg::control(int id) const {
    auto found = controls_.find(id);
    if (found != controls_.end()) return found->second;
    auto model = modelBoxes_.find(id);
    return model != modelBoxes_.end() ? model->second : nullptr;
}

std::vector<QCheckBox*> Cquenta_upgradeDlg::modelBoxes() const {
    std::vector<QCheckBox*> boxes;
    for (const auto& [id, box] : modelBoxes_) boxes.push_back(box);
    return boxes;
}

void Cquenta_upgradeDlg::rebuildModelBoxes() {
    for (auto& [id, box] : modelBoxes_) {
        box->hide();
        box->deleteLater();  // a box may be rebuilt from inside its own click
    }
    modelBoxes_.clear();
    const QRect group = units_.toPixels(0, 51, 897, 74);
    for (const ModelBox& model : flow_->state().modelBoxes) {
        auto* box = new QCheckBox(QString::fromStdString(model.utf8Label), this);
        box->setObjectName(QStringLiteral("model%1").arg(model.id));
        box->setFont(modelBoxFont_);
        box->setToolTip(box->text());  // the whole name, also where a long one is cut
        // From the rounded edges, so neighbouring boxes never overlap by a rounded pixel.
        const int left = units_.toPixelsX(model.x), top = units_.toPixelsY(model.y);
        box->setGeometry(group.left() + left, group.top() + top,
                         units_.toPixelsX(model.x + model.width) - left,
                         units_.toPixelsY(model.y + model.height) - top);
        const int id = model.id;
        connect(box, &QCheckBox::clicked, this, [this, id] { routeClick(id); });
        box->show();
        modelBoxes_[id] = box;
    }
}

void Cquenta_upgradeDlg::syncFromState(unsigned what) {
    if (!flow_) return;
    syncing_ = true;
    DialogState& state = flow_->state();
    if ((what & kRebuiltModelBoxes) != 0 || modelBoxes_.size() != state.modelBoxes.size())
        rebuildModelBoxes();
    for (auto& [id, widget] : controls_) {
        if (id == 1001) continue;  // the list is always enabled
        const ControlState& control = state.control(id);
        widget->setEnabled(control.enabled);
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            const QSignalBlocker block(button);
            const QString text = QString::fromStdString(control.text);
            if (button->text() != text) button->setText(text);
            if (button->isCheckable()) button->setChecked(control.checked);
        }
    }
    for (const ModelBox& model : state.modelBoxes) {
        auto found = modelBoxes_.find(model.id);
        if (found == modelBoxes_.end()) continue;
        const QSignalBlocker block(found->second);
        found->second->setChecked(model.checked);
        found->second->setEnabled(model.enabled);
    }
    const QString path = QString::fromStdString(state.text(IDC_PATH_BOX));
    if (pathBox_->text() != path) pathBox_->setText(path);
    const QString label = QString::fromStdString(state.text(IDC_PACKAGE_LABEL));
    if (packageLabel_->text() != label) packageLabel_->setText(label);
    auto showIp = [](IpAddressEdit* edit, const std::string& dotted) {
        const QString text = QString::fromStdString(dotted);
        if (edit->text() == text) return;
        const QSignalBlocker block(edit);
        if (text == QLatin1String(kBlankIp))
            edit->clear();
        else
            edit->setText(text);
    };
    showIp(addressBoxIp_, state.addressBoxIp);
    showIp(singleIp_, state.singleIp);
    syncing_ = false;
}

void Cquenta_upgradeDlg::routeClick(int id) {
    if (flowUi_->flowEnded()) return;
    flow_->click(id);  // the widget toggled itself; the sync puts it back to what the flow decided
    if (!flowUi_->flowEnded()) syncFromState();
}

void Cquenta_upgradeDlg::pressExit() {
    if (flowUi_->flowEnded()) return;
    flow_->OnBnClickedCancel();  // cancels a running upgrade first, then asks the window to close
    if (!flowUi_->flowEnded()) syncFromState();
}

QMenu* Cquenta_upgradeDlg::buildListMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    for (const ListMenuEntry& entry : listMenuEntries(*flow_)) {
        if (entry.separatorBefore) menu->addSeparator();
        QAction* action = menu->addAction(QString::fromUtf8(entry.utf8Text));
        action->setEnabled(entry.enabled);
        const ListCommand command = entry.command;
        connect(action, &QAction::triggered, this, [this, command] {
            if (flowUi_->flowEnded()) return;
            runListCommand(*flow_, command);
            if (!flowUi_->flowEnded()) syncFromState();
        });
    }
    return menu;
}

void Cquenta_upgradeDlg::OnIpFieldChangedAddressBox() {
    if (syncing_) return;
    flow_->setAddressBoxIp(addressBoxIp_->text().toStdString());  // stores it and empties the list
    syncFromState();
}

void Cquenta_upgradeDlg::OnAbout() {
    CHelpDlg about(this);
    about.exec();
}

// --- closing -----------------------------------------------------------------------------------

void Cquenta_upgradeDlg::closeForFlow() {
    if (!flowUi_->endFlow(*flow_)) return;
    closedByFlow_ = true;
    QDialog::done(QDialog::Rejected);
}

void Cquenta_upgradeDlg::requestClose() {
    if (flowUi_->flowEnded()) return;
    if (flowUi_->modalDepth() > 0) {
        QTimer::singleShot(200, this, [this] { requestClose(); });
        return;
    }
    pressExit();
}

void Cquenta_upgradeDlg::reject() {
    // IDCANCEL from anywhere but the keyboard (Escape is swallowed before it gets here).
    if (flowUi_->modalDepth() > 0) return;
    pressExit();
}

void Cquenta_upgradeDlg::closeEvent(QCloseEvent* event) {
    if (flowUi_->flowEnded()) {
        event->accept();
        return;
    }
    event->ignore();  // the close box acts as "退出", which closes the window itself when done
    if (flowUi_->modalDepth() == 0) pressExit();
}

void Cquenta_upgradeDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

bool Cquenta_upgradeDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
        // Enter and Escape addressed to any window of this dialog are swallowed (not to its boxes).
        auto* widget = qobject_cast<QWidget*>(watched);
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (widget != nullptr && (widget == this || isAncestorOf(widget)) &&
            (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape)) {
            return event->type() == QEvent::KeyPress;
        }
    }
    if (watched == banner_ && event->type() == QEvent::MouseButtonRelease) {
        OnAbout();  // command 1026
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void Cquenta_upgradeDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* about = menu.addAction(QString::fromUtf8(flowtext::kAboutMenu));
    about->setData(kAboutCommand);
    if (menu.exec(event->globalPos()) == about) OnAbout();
}
