// test-labels: threads
// The operator's window against a simulated site in a private network namespace: layout and texts,
// the IPv4 control, swallowed keys, the enabling rules in every state, each refusal of the flow, the
// whole path from a package to "升级完成！", and closing during an upgrade. Screenshots after a query
// and during an upgrade are saved into the test's working folder (gui-screenshots/). Regression
// tests: model boxes of large packages inside their group box, the list kept while upgrading, and
// "升级" right after a cancel without blocking the window.
#include "engine/device_list.h"
#include "engine/device_status.h"
#include "engine/list_glance.h"
#include "engine/model_box_layout.h"
#include "engine/upgrade_flow.h"
#include "package/package_load.h"
#include "sim/package_maker.h"
#include "sim/sim_site.h"
#include "tests/support/box_script.h"
#include "tests/support/netns.h"
#include "tests/support/refusal_rules.h"
#include "tests/support/temp_dir.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <memory>

#include <QMenu>
#include "ui/CProgressDlg.h"
#include "ui/CReportCtrl.h"
#include "ui/device_list_model.h"
#include "ui/ip_address_edit.h"
#include "ui/qt_flow_ui.h"
#include "ui/qt_translation.h"
#include "ui/quenta_upgradeDlg.h"

// The status line's picture needs a 700-device site (QUENTA_TEST_SCREENSHOT_700 set).
QUENTA_TEST_IN_PRIVATE_NAMESPACE(std::getenv("QUENTA_TEST_SCREENSHOT_700") != nullptr ? 759 : 20);

namespace {

using quenta_test::siteAddress;

// The site: an address box, three fitting devices (two older, one up to date), a device whose model
// the package does not list, and one the box lists but that never answers.
SimConfig makeSiteConfig() {
    SimConfig config;
    SimAddressBoxConfig box;
    box.device.ip = siteAddress(0);
    box.device.model = "QN-AB100";
    box.device.platform = "A20";
    box.device.serialNum = "QNT0AB10001";
    box.device.softVersion = "1.8.0";
    box.maxAddressesPerDatagram = 2;
    config.addressBox = box;
    auto device = [](int n, const char* model, const char* version, const char* serial) {
        SimDeviceConfig d;
        d.ip = siteAddress(n);
        d.model = model;
        d.platform = "hi3516a";
        d.master = 1;
        d.slave = n;
        d.hardVersion = "HW-1.0";
        d.kernelVersion = "3.10.108";
        d.softVersion = version;
        d.serialNum = serial;
        return d;
    };
    config.devices.push_back(device(1, "QN-H200", "2.3.9", "QNT2H200001"));
    config.devices.push_back(device(2, "QN-H200", "2.3.9", "QNT2H200002"));
    config.devices.push_back(device(3, "QN-S210", "2.4.1", "QNT1S210001"));
    config.devices.push_back(device(4, "QN-D310", "2.3.0", "QNTF02D0001"));
    SimDeviceConfig silent = device(5, "QN-H200", "2.3.9", "QNT2H200005");
    silent.faults.silent = true;
    config.devices.push_back(silent);
    return config;
}

// Records what the window's list went through: status texts written into column 1 and progress
// cell repaints (the engine's changes arrive through the flow's dispatcher on the GUI thread).
class ListRecorder : public DeviceListObserver {
  public:
    explicit ListRecorder(DeviceList& list) : list_(list) { list_.AddObserver(this); }
    ~ListRecorder() override { list_.RemoveObserver(this); }
    void cellsChanged(int row, int first, int last) override {
        if (first <= 1 && last >= 1 && list_.Row(row) != nullptr)
            statuses.insert(QString::fromStdString(list_.Row(row)->texts[1]));
    }
    void progressChanged(int row, int column) override {
        const ListRow* r = list_.Row(row);
        if (r != nullptr && column < static_cast<int>(r->record.progress.size())) {
            progressEvents++;
            if (r->record.progress[column].inUse) progressShown = true;
            maxPercent = qMax(maxPercent, r->record.progress[column].percent);
        }
    }
    QSet<QString> statuses;
    int progressEvents = 0;
    bool progressShown = false;
    int maxPercent = 0;

  private:
    DeviceList& list_;
};

QString rowText(Cquenta_upgradeDlg& dlg, int row, int column) {
    const ListRow* r = dlg.flow().list().Row(row);
    return r == nullptr ? QString() : QString::fromStdString(r->texts[static_cast<size_t>(column)]);
}

int findRow(Cquenta_upgradeDlg& dlg, const std::string& ip) {
    for (int row = 0; row < dlg.flow().list().RowCount(); ++row) {
        if (rowText(dlg, row, 4) == QString::fromStdString(ip)) return row;
    }
    return -1;
}

// Types as an operator does: each key goes to the field that has the focus at that moment.
void typeIp(IpAddressEdit* edit, const QString& text) {
    edit->field(0)->setFocus();
    edit->field(0)->selectAll();
    for (const QChar c : text) {
        QWidget* target = edit->window()->focusWidget();
        if (target == nullptr) target = edit->field(0);
        QTest::keyClick(target, c.toLatin1());
    }
}

void clickControl(Cquenta_upgradeDlg& dlg, int id) {
    auto* button = qobject_cast<QAbstractButton*>(dlg.control(id));
    QVERIFY2(button != nullptr, qPrintable(QStringLiteral("no button %1").arg(id)));
    QVERIFY2(button->isEnabled(), qPrintable(QStringLiteral("button %1 is disabled").arg(id)));
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(4, button->height() / 2));
}

// The boxes of the window under test: answered, recorded, file dialogs given (set up by init()).
quenta_test::BoxScript* g_boxes = nullptr;
quenta_test::BoxScript& script() {
    return *g_boxes;
}

// Boxes with this text, or whose first line is this text (the end-of-run summary adds counts).
int boxesShown(Cquenta_upgradeDlg& /*dlg*/, const QString& text) {
    int count = 0;
    for (const auto& box : script().shownBoxes()) {
        const QString shown = QString::fromStdString(box.text);
        if (shown == text || shown.startsWith(text + QLatin1Char('\n'))) ++count;
    }
    return count;
}

bool boxShown(Cquenta_upgradeDlg& dlg, const QString& text) {
    return boxesShown(dlg, text) > 0;
}

QString lastBoxText(Cquenta_upgradeDlg& /*dlg*/) {
    const auto& shown = script().shownBoxes();
    return shown.empty() ? QString() : QString::fromStdString(shown.back().text);
}

// Fallback for a box the seam did not answer: press the default button of the active message box.
void answerActiveBoxesFor(int ms) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(100);
    QObject::connect(timer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            if (box->defaultButton() != nullptr) box->defaultButton()->click();
        }
    });
    timer->start();
    QTimer::singleShot(ms, timer, &QObject::deleteLater);
}

QString screenshotPath(const QString& name) {
    QDir().mkpath(QStringLiteral("gui-screenshots"));
    return QDir::current().filePath(QStringLiteral("gui-screenshots/") + name);
}

}  // namespace

class QuentaUpgradeDlgTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void fontsForChinese();
    void layoutAndTexts_data();
    void layoutAndTexts();
    void tintAndModelBoxFont();
    void ipAddressControl();
    void enterAndEscapeAreSwallowed();
    void enablingAfterInitAndLoads();
    void queryRefusals_data();
    void queryRefusals();
    void singleIpRefusalsAndAdd();
    void upgradeRefusals();
    void operatorPath();
    void failedDevicesShownAndHidden();
    void closingDuringUpgradeCancelsFirst();
    void modelBoxesStayInsideTheirGroup_data();
    void modelBoxesStayInsideTheirGroup();
    void listKeptWhileUpgrading();
    void upgradeRightAfterCancelDoesNotBlock();
    void aboutBox();
    void fileDialogFilter();
    void verifyBoxReasonMenuAndReport();
    void statusLineFilterSearchAndSortArrow();
    void statusLineOn700DeviceSite();

  private:
    std::string makePackage(const std::string& fileName, const std::string& models,
                            const std::string& version);
    void loadPackage(Cquenta_upgradeDlg& dlg, const std::string& path);
    // Loads a package of `version` for the site's models and queries the site (prompt answered 否).
    void queryWith(Cquenta_upgradeDlg& dlg, const std::string& version);

    std::unique_ptr<quenta_test::TempDir> dir_;
    std::unique_ptr<SimSite> site_;
    std::unique_ptr<quenta_test::BoxScript> boxes_;
    std::unique_ptr<Cquenta_upgradeDlg> dlg_;
    std::string generalPackage_;
};

void QuentaUpgradeDlgTest::initTestCase() {
    // Boxes the seam was not told about are answered like an operator would (the default button).
    answerActiveBoxesFor(24 * 3600 * 1000);
    dir_ = std::make_unique<quenta_test::TempDir>("gui-dlg-");
    site_ = std::make_unique<SimSite>(makeSiteConfig());
    std::string error;
    QVERIFY2(site_->open(error) == 0, error.c_str());
    QCOMPARE(site_->start(), 0);
    generalPackage_ = makePackage("QN通用升级包-2.4.1.quenta", "QN-H200,QN-S210", "2.4.1");
}

void QuentaUpgradeDlgTest::cleanupTestCase() {
    if (site_) site_->stop();
    site_.reset();
}

void QuentaUpgradeDlgTest::init() {
    boxes_ = std::make_unique<quenta_test::BoxScript>();
    g_boxes = boxes_.get();
    dlg_ = std::make_unique<Cquenta_upgradeDlg>();
    QVERIFY(dlg_->initialised());
    dlg_->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg_.get()));
}

void QuentaUpgradeDlgTest::cleanup() {
    dlg_.reset();
    g_boxes = nullptr;
    boxes_.reset();
}

std::string QuentaUpgradeDlgTest::makePackage(const std::string& fileName, const std::string& models,
                                              const std::string& version) {
    PackageSpec spec;
    spec.modelList = models;
    spec.version = version;
    spec.payloadSize = 512 * 1024;
    const std::string path = dir_->file(fileName);
    if (makePackageFile(path, spec) != 0) return {};
    return path;
}

void QuentaUpgradeDlgTest::loadPackage(Cquenta_upgradeDlg& dlg, const std::string& path) {
    script().setNextOpenFile(path);
    clickControl(dlg, IDC_BROWSE);
}

void QuentaUpgradeDlgTest::queryWith(Cquenta_upgradeDlg& dlg, const std::string& version) {
    loadPackage(dlg, makePackage("QN通用升级包-" + version + ".quenta", "QN-H200,QN-S210", version));
    typeIp(dlg.addressBoxIp(), QString::fromStdString(siteAddress(0)));
    script().queueAnswer(IDNO);
    clickControl(dlg, IDC_QUERY);
}

void QuentaUpgradeDlgTest::fontsForChinese() {
    QVERIFY2(!QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty(),
             "no Simplified Chinese font: the window would show boxes (install fonts-wqy-microhei)");
    QVERIFY(!chineseFontFamily().isEmpty());
    QVERIFY(QFontDatabase::families(QFontDatabase::SimplifiedChinese).contains(chineseFontFamily()) ||
            QFontDatabase::families().contains(chineseFontFamily()));
}

void QuentaUpgradeDlgTest::layoutAndTexts_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QRect>("units");
    QTest::addColumn<QString>("text");
    QTest::newRow("1 升级") << 1 << QRect(789, 452, 50, 16) << QStringLiteral("升级");
    QTest::newRow("2 退出") << 2 << QRect(848, 452, 50, 16) << QStringLiteral("退出");
    QTest::newRow("1014 path box") << 1014 << QRect(199, 40, 309, 14) << QString();
    QTest::newRow("1015 浏览") << 1015 << QRect(515, 39, 39, 14) << QStringLiteral("浏览");
    QTest::newRow("1001 list") << 1001 << QRect(1, 147, 897, 301) << QString();
    QTest::newRow("1009 query") << 1009 << QRect(55, 128, 70, 14) << QStringLiteral(" 获取设备列表");
    QTest::newRow("1011") << 1011 << QRect(148, 131, 93, 10) << QStringLiteral("选取全部可升级设备");
    QTest::newRow("1021 address box") << 1021 << QRect(43, 39, 92, 14) << QString();
    QTest::newRow("1028") << 1028 << QRect(250, 131, 126, 10)
                          << QStringLiteral("选取与升级包版本不一致的设备");
    QTest::newRow("1027 label") << 1027 << QRect(558, 41, 301, 8) << QStringLiteral("适用于以下产品型号");
    QTest::newRow("1023 single") << 1023 << QRect(765, 129, 88, 14) << QString();
    QTest::newRow("1016 添加") << 1016 << QRect(856, 129, 39, 14) << QStringLiteral("添加");
    QTest::newRow("1029 清空") << 1029 << QRect(4, 452, 50, 16) << QStringLiteral("  清空列表");
    QTest::newRow("1033 single radio") << 1033 << QRect(698, 129, 56, 10) << QStringLiteral("指定IP升级");
    QTest::newRow("1034 batch radio") << 1034 << QRect(3, 130, 48, 10) << QStringLiteral("批量升级");
    QTest::newRow("1035 group") << 1035 << QRect(0, 51, 897, 74) << QString();
    QTest::newRow("1012 全选") << 1012 << QRect(861, 39, 33, 10) << QStringLiteral(" 全选");
    QTest::newRow("1030") << 1030 << QRect(386, 131, 87, 10) << QStringLiteral("显示连接失败的设备");
}

void QuentaUpgradeDlgTest::layoutAndTexts() {
    QFETCH(int, id);
    QFETCH(QRect, units);
    QFETCH(QString, text);
    Cquenta_upgradeDlg& dlg = *dlg_;
    QCOMPARE(dlg.windowTitle(), QStringLiteral("产品升级工具"));
    const DialogUnits& du = dlg.units();
    QVERIFY(du.baseX > 0 && du.baseY > 0);
    QCOMPARE(dlg.size(), QSize(du.toPixelsX(900), du.toPixelsY(472)));
    QWidget* widget = dlg.control(id);
    QVERIFY(widget != nullptr);
    QCOMPARE(widget->geometry(), du.toPixels(units.x(), units.y(), units.width(), units.height()));
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) QCOMPARE(button->text(), text);
    if (auto* label = qobject_cast<QLabel*>(widget)) QCOMPARE(label->text(), text);
}

void QuentaUpgradeDlgTest::tintAndModelBoxFont() {
    Cquenta_upgradeDlg& dlg = *dlg_;
    const QColor tint(0xF1, 0xF3, 0xF8);
    QCOMPARE(dlg.palette().color(QPalette::Window), tint);
    for (int id : {1, 1009, 1011, 1014, 1021, 1035})
        QCOMPARE(dlg.control(id)->palette().color(QPalette::Window), tint);
    QCOMPARE(dlg.control(1014)->palette().color(QPalette::Base), tint);  // the read-only path box too
    // The device list keeps the system colours: its empty part is not tinted.
    QCOMPARE(dlg.control(1001)->palette().color(QPalette::Base),
             QApplication::palette().color(QPalette::Base));
    QVERIFY(dlg.control(1001)->palette().color(QPalette::Base) != tint);
    // The picture at the top-left corner opens the about box; the dialog's font is the Chinese face.
    QVERIFY(dlg.findChild<QLabel*>(QStringLiteral("banner137")) != nullptr);
    loadPackage(dlg, generalPackage_);
    const auto boxes = dlg.modelBoxes();
    QCOMPARE(static_cast<int>(boxes.size()), 2);
    const DialogUnits& du = dlg.units();
    const QRect group = du.toPixels(0, 51, 897, 74);
    for (size_t k = 0; k < boxes.size(); ++k) {
        QCOMPARE(boxes[k]->objectName(),
                 QStringLiteral("model%1").arg(kFirstModelBoxId + static_cast<int>(k)));
        QCOMPARE(boxes[k]->font().families().value(0), QStringLiteral("Courier New"));
        QCOMPARE(boxes[k]->font().pointSize(), 8);
        const ModelBoxRect place = layoutModelBoxes(2)[k];
        QCOMPARE(boxes[k]->geometry().left(), group.left() + du.toPixelsX(place.x));
        QCOMPARE(boxes[k]->geometry().top(), group.top() + du.toPixelsY(place.y));
        QVERIFY(boxes[k]->isChecked());
    }
    QCOMPARE(boxes[0]->text(), QStringLiteral("QN-H200"));
}

void QuentaUpgradeDlgTest::ipAddressControl() {
    IpAddressEdit edit;
    QSignalSpy changes(&edit, &IpAddressEdit::fieldChanged);
    QCOMPARE(edit.text(), QStringLiteral("0.0.0.0"));
    QVERIFY(edit.isBlank());
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    typeIp(&edit, QStringLiteral("192.168.1.7"));
    QCOMPARE(edit.text(), QStringLiteral("192.168.1.7"));
    QVERIFY(changes.count() >= 8);  // every digit is a change
    // Three digits move on by themselves; a '.' right after that does not skip a field.
    edit.clear();
    typeIp(&edit, QStringLiteral("10.0.0.300"));
    QCOMPARE(edit.text(), QStringLiteral("10.0.0.255"));  // a field never exceeds 255
    edit.clear();
    typeIp(&edit, QStringLiteral("1.2"));
    QCOMPARE(edit.text(), QStringLiteral("1.2.0.0"));  // blank fields read 0
    // Backspace in an empty field goes back to the previous one.
    edit.clear();
    typeIp(&edit, QStringLiteral("12."));
    QCOMPARE(edit.focusWidget(), edit.field(1));
    QTest::keyClick(edit.field(1), Qt::Key_Backspace);
    QCOMPARE(edit.focusWidget(), edit.field(0));
    QTest::keyClick(edit.field(0), Qt::Key_Backspace);
    QCOMPARE(edit.field(0)->text(), QStringLiteral("1"));
    edit.setText(QStringLiteral("8.8.4.4"));
    QCOMPARE(edit.text(), QStringLiteral("8.8.4.4"));
}

void QuentaUpgradeDlgTest::enterAndEscapeAreSwallowed() {
    Cquenta_upgradeDlg& dlg = *dlg_;
    loadPackage(dlg, generalPackage_);
    script().clearShownBoxes();
    for (QWidget* target : {static_cast<QWidget*>(dlg.addressBoxIp()->field(0)), dlg.control(1014),
                            dlg.control(IDC_BROWSE), static_cast<QWidget*>(&dlg)}) {
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
        QTest::keyClick(target, Qt::Key_Escape);
    }
    QVERIFY(dlg.isVisible());
    QVERIFY(script().shownBoxes().empty());  // "升级" was not pressed either
    QCOMPARE(dlg.result(), 0);
}

void QuentaUpgradeDlgTest::enablingAfterInitAndLoads() {
    Cquenta_upgradeDlg& dlg = *dlg_;
    auto enabled = [&](int id) { return dlg.control(id)->isEnabled(); };
    // After OnInitDialog.
    for (int id : {1, 1009, 1023, 1016, 1011, 1028, 1030, 1034, 1033})
        QVERIFY2(!enabled(id), qPrintable(QString::number(id)));
    for (int id : {1015, 2, 1029}) QVERIFY2(enabled(id), qPrintable(QString::number(id)));
    auto* batch = qobject_cast<QRadioButton*>(dlg.control(1034));
    auto* single = qobject_cast<QRadioButton*>(dlg.control(1033));
    QVERIFY(!batch->isChecked() && !single->isChecked());

    // A general package: batch mode.
    loadPackage(dlg, generalPackage_);
    QCOMPARE(qobject_cast<QLineEdit*>(dlg.control(1014))->text(), QString::fromStdString(generalPackage_));
    QCOMPARE(qobject_cast<QLabel*>(dlg.control(1027))->text(),
             QStringLiteral("该升级包版本为2.4.1，适合于以下产品"));
    for (int id : {1009, 1011, 1028, 1030, 1034, 1033, 1015, 2, 1029})
        QVERIFY2(enabled(id), qPrintable(QString::number(id)));
    for (int id : {1, 1023, 1016}) QVERIFY2(!enabled(id), qPrintable(QString::number(id)));
    QVERIFY(batch->isChecked() && !single->isChecked());

    // Single-IP mode by the radio.
    clickControl(dlg, 1033);
    QVERIFY(!batch->isChecked() && single->isChecked());
    for (int id : {1023, 1016, 1033, 1034}) QVERIFY2(enabled(id), qPrintable(QString::number(id)));
    for (int id : {1009, 1011, 1028, 1030}) QVERIFY2(!enabled(id), qPrintable(QString::number(id)));
    clickControl(dlg, 1034);
    QVERIFY(batch->isChecked() && !single->isChecked());

    // A multimedia file package: notice, single-IP mode, batch radio off, one disabled ticked box.
    const std::string media = makePackage("多媒体文件包-1.0.quenta", "ALL", "1.0");
    script().queueAnswer(IDOK);
    loadPackage(dlg, media);
    QCOMPARE(lastBoxText(dlg), QStringLiteral("多媒体文件包不支持批量升级，只能指定IP升级"));
    QCOMPARE(QString::fromStdString(script().shownBoxes().back().title), QStringLiteral("提示"));
    QVERIFY(!batch->isChecked() && single->isChecked());
    QVERIFY(!enabled(1034));
    QVERIFY(enabled(1033) && enabled(1023) && enabled(1016));
    const auto boxes = dlg.modelBoxes();
    QCOMPARE(static_cast<int>(boxes.size()), 1);
    QVERIFY(boxes[0]->isChecked() && !boxes[0]->isEnabled());
    QCOMPARE(boxes[0]->text(), QStringLiteral("ALL"));
}

// The refusals shared by every front end (tests/support/refusal_rules), on this suite's site.
static refusal_rules::SiteAddresses siteForRefusals() {
    return {siteAddress(0), siteAddress(5), siteAddress(1), "QN-H200"};
}

void QuentaUpgradeDlgTest::queryRefusals_data() {
    QTest::addColumn<QString>("ip");
    QTest::addColumn<bool>("untickModels");
    QTest::addColumn<QString>("message");
    for (const auto& c : refusal_rules::queryRefusals(siteForRefusals()))
        QTest::newRow(c.name.c_str())
            << QString::fromStdString(c.typedIp) << c.untickModels << QString::fromStdString(c.message);
}

void QuentaUpgradeDlgTest::queryRefusals() {
    QFETCH(QString, ip);
    QFETCH(bool, untickModels);
    QFETCH(QString, message);
    Cquenta_upgradeDlg& dlg = *dlg_;
    loadPackage(dlg, generalPackage_);
    if (untickModels) {
        for (QCheckBox* box : dlg.modelBoxes())
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
        for (QCheckBox* box : dlg.modelBoxes()) QVERIFY(!box->isChecked());
    }
    if (!ip.isEmpty()) typeIp(dlg.addressBoxIp(), ip);
    script().clearShownBoxes();
    script().queueAnswer(IDOK);
    clickControl(dlg, IDC_QUERY);
    QCOMPARE(static_cast<int>(script().shownBoxes().size()), 1);
    const auto& box = script().shownBoxes().front();
    QCOMPARE(QString::fromStdString(box.text), message);
    QCOMPARE(QString::fromStdString(box.title), QStringLiteral("错误提示"));
    QCOMPARE(box.icon, BoxIcon::stop);
    QCOMPARE(dlg.flow().list().RowCount(), 0);  // a refused query leaves the list empty
    QVERIFY(dlg.control(IDC_QUERY)->isEnabled());
}

void QuentaUpgradeDlgTest::singleIpRefusalsAndAdd() {
    Cquenta_upgradeDlg& dlg = *dlg_;
    loadPackage(dlg, generalPackage_);
    clickControl(dlg, IDC_RADIO_SINGLE);
    for (const auto& c : refusal_rules::addRefusals(siteForRefusals())) {
        dlg.singleIp()->clear();
        if (!c.typedIp.empty()) typeIp(dlg.singleIp(), QString::fromStdString(c.typedIp));
        script().clearShownBoxes();
        script().queueAnswer(IDOK);
        clickControl(dlg, IDC_ADD);
        QCOMPARE(lastBoxText(dlg), QString::fromStdString(c.message));
        QCOMPARE(QString::fromStdString(script().shownBoxes().back().title), QStringLiteral("错误提示"));
        // Past the blank check, "添加" enables "升级" whatever the outcome.
        QCOMPARE(dlg.control(IDC_UPGRADE)->isEnabled(), !c.typedIp.empty());
    }
    // A device that answers is listed; adding it twice keeps one row.
    dlg.singleIp()->clear();
    typeIp(dlg.singleIp(), QString::fromStdString(siteAddress(1)));
    script().clearShownBoxes();
    clickControl(dlg, IDC_ADD);
    clickControl(dlg, IDC_ADD);
    QVERIFY(script().shownBoxes().empty());
    QCOMPARE(dlg.flow().list().RowCount(), 1);
    QCOMPARE(rowText(dlg, 0, 1), QStringLiteral("已连接"));
    QCOMPARE(rowText(dlg, 0, 5), QStringLiteral("QN-H200"));
}

void QuentaUpgradeDlgTest::upgradeRefusals() {
    Cquenta_upgradeDlg& dlg = *dlg_;
    loadPackage(dlg, generalPackage_);
    clickControl(dlg, IDC_RADIO_SINGLE);
    const refusal_rules::SiteAddresses site = siteForRefusals();
    for (const auto& c : refusal_rules::upgradeRefusals(site)) {
        dlg.addressBoxIp()->clear();  // editing it empties the list
        if (!c.typedIp.empty()) typeIp(dlg.addressBoxIp(), QString::fromStdString(c.typedIp));
        if (c.listDevice) {
            dlg.singleIp()->clear();
            typeIp(dlg.singleIp(), QString::fromStdString(site.device));
            clickControl(dlg, IDC_ADD);
            QCOMPARE(dlg.flow().list().RowCount(), 1);
        }
        if (c.untickRows) dlg.flow().list().SetCheck(0, false);
        if (c.clearList) clickControl(dlg, IDC_CLEAR);
        script().clearShownBoxes();
        script().queueAnswer(IDOK);
        clickControl(dlg, IDC_UPGRADE);
        QCOMPARE(lastBoxText(dlg), QString::fromStdString(c.message));
        QVERIFY(!dlg.flow().isUpgrading());
        QCOMPARE(qobject_cast<QPushButton*>(dlg.control(IDC_UPGRADE))->text(), QStringLiteral("升级"));
    }
}

void QuentaUpgradeDlgTest::operatorPath() {
    Cquenta_upgradeDlg& dlg = *dlg_;
    ListRecorder recorder(dlg.flow().list());
    loadPackage(dlg, generalPackage_);
    QCOMPARE(static_cast<int>(dlg.modelBoxes().size()), 2);
    // Untick and tick a model again, as an operator checking the boxes would.
    QCheckBox* second = dlg.modelBoxes()[1];
    QTest::mouseClick(second, Qt::LeftButton, {}, QPoint(4, second->height() / 2));
    QVERIFY(!second->isChecked());
    QTest::mouseClick(second, Qt::LeftButton, {}, QPoint(4, second->height() / 2));
    QVERIFY(second->isChecked());
    typeIp(dlg.addressBoxIp(), QString::fromStdString(siteAddress(0)));
    QCOMPARE(dlg.addressBoxIp()->text(), QString::fromStdString(siteAddress(0)));

    // The query: the progress box is up while it runs, with the main window's buttons off.
    bool sawProgress = false, upgradeOffDuringQuery = true;
    QString progressLine1;
    dlg.flowUi().setProgressOpenedHook([&](CProgressDlg& box) {
        sawProgress = true;
        progressLine1 = box.line1();
        upgradeOffDuringQuery =
            !dlg.control(IDC_UPGRADE)->isEnabled() && !dlg.control(IDC_QUERY)->isEnabled();
        box.grab().save(screenshotPath(QStringLiteral("progress-query.png")));
    });
    script().clearShownBoxes();
    script().queueAnswer(IDNO);  // the version prompt: not yet
    clickControl(dlg, IDC_QUERY);
    dlg.flowUi().setProgressOpenedHook({});
    QVERIFY(sawProgress);
    QVERIFY(progressLine1 == QStringLiteral("正在测试连接，请稍后...") ||
            progressLine1.startsWith(QStringLiteral("当前已发现设备数量：")));
    QVERIFY(upgradeOffDuringQuery);

    // Three fitting devices; the silent one only through "显示连接失败的设备".
    QCOMPARE(dlg.flow().list().RowCount(), 3);
    const int older1 = findRow(dlg, siteAddress(1)), older2 = findRow(dlg, siteAddress(2));
    const int current = findRow(dlg, siteAddress(3));
    QVERIFY(older1 >= 0 && older2 >= 0 && current >= 0);
    for (int row : {older1, older2, current}) {
        QCOMPARE(rowText(dlg, row, 1), QStringLiteral("已连接"));
        const ListRow* r = dlg.flow().list().Row(row);
        QVERIFY(r != nullptr);
        QCOMPARE(r->record.backColors[1], static_cast<int32_t>(0xE7E5C9));
        QCOMPARE(r->record.textColors[1], static_cast<int32_t>(0x000000));
    }
    QCOMPARE(rowText(dlg, older1, 7), QStringLiteral("2.3.9"));
    QCOMPARE(rowText(dlg, older1, 10), QStringLiteral("TCP"));
    QCOMPARE(rowText(dlg, older1, 2), QStringLiteral("1"));
    // The version rule ticked the two older rows and asked.
    QVERIFY(dlg.flow().list().GetCheck(older1) && dlg.flow().list().GetCheck(older2));
    QVERIFY(!dlg.flow().list().GetCheck(current));
    QVERIFY(boxShown(dlg, QStringLiteral("共发现2个不同版本的设备可以升级, 现在立即升级吗？")));
    QCOMPARE(QString::fromStdString(script().shownBoxes().back().title), QStringLiteral("信息"));
    QVERIFY(qobject_cast<QCheckBox*>(dlg.control(1028))->isChecked());
    for (int id : {1, 1009, 1015, 2, 1029})
        QVERIFY2(dlg.control(id)->isEnabled(), qPrintable(QString::number(id)));
    QVERIFY(dlg.grab().save(screenshotPath(QStringLiteral("screenshot-query.png"))));

    // "升级": the button reads "取消", the others are off, rows go through 等待升级 / 正在升级.
    script().queueAnswer(IDOK);  // "升级完成！"
    clickControl(dlg, IDC_UPGRADE);
    QVERIFY(dlg.flow().isUpgrading() || boxShown(dlg, QStringLiteral("升级完成！")));
    if (dlg.flow().isUpgrading()) {
        QCOMPARE(qobject_cast<QPushButton*>(dlg.control(IDC_UPGRADE))->text(), QStringLiteral("取消"));
        QVERIFY(dlg.control(IDC_UPGRADE)->isEnabled());
        for (int id : {2, 1009, 1029, 1015})
            QVERIFY2(!dlg.control(id)->isEnabled(), qPrintable(QString::number(id)));
        QTest::qWait(300);
        QVERIFY(dlg.grab().save(screenshotPath(QStringLiteral("screenshot-upgrade.png"))));
    }
    QTRY_VERIFY_WITH_TIMEOUT(boxShown(dlg, QStringLiteral("升级完成！")), 120000);
    QCOMPARE(QString::fromStdString(script().shownBoxes().back().title), QStringLiteral("信息提示"));
    QVERIFY(recorder.statuses.contains(QStringLiteral("等待升级")));
    QVERIFY(recorder.statuses.contains(QStringLiteral("正在升级")));
    QVERIFY(recorder.progressShown);  // the status cell became a progress bar
    for (int row : {older1, older2}) {
        QCOMPARE(rowText(dlg, row, 1), QStringLiteral("升级完成"));
        QCOMPARE(rowText(dlg, row, 7), QStringLiteral("2.4.1"));
        QVERIFY(!dlg.flow().list().GetCheck(row));
        QCOMPARE(dlg.flow().list().Row(row)->record.backColors[1], static_cast<int32_t>(0x00FF00));
        QCOMPARE(dlg.flow().list().Row(row)->record.progress[1].inUse, 0);
    }
    QCOMPARE(rowText(dlg, current, 1), QStringLiteral("已连接"));
    QCOMPARE(qobject_cast<QPushButton*>(dlg.control(IDC_UPGRADE))->text(), QStringLiteral("升级"));
    for (int id : {1, 2, 1009, 1029, 1015})
        QVERIFY2(dlg.control(id)->isEnabled(), qPrintable(QString::number(id)));
    QVERIFY(site_->softVersion(siteAddress(1)).value_or("") == "2.4.1");
}

void QuentaUpgradeDlgTest::failedDevicesShownAndHidden() {
    Cquenta_upgradeDlg& dlg = *dlg_;
    loadPackage(dlg, generalPackage_);
    typeIp(dlg.addressBoxIp(), QString::fromStdString(siteAddress(0)));
    script().queueAnswer(IDNO);
    clickControl(dlg, IDC_QUERY);
    const int listed = dlg.flow().list().RowCount();
    QVERIFY(listed >= 1);
    // Selection rules: unticking 1028 unticks every connected row and reports nothing to upgrade;
    // 1011 ticks every connected row and unticks 1028.
    auto connectedTicked = [&] {
        int ticked = 0, connected = 0;
        for (int row = 0; row < dlg.flow().list().RowCount(); ++row) {
            if (rowText(dlg, row, 1) != QStringLiteral("已连接")) continue;
            ++connected;
            if (dlg.flow().list().GetCheck(row)) ++ticked;
        }
        return std::pair{ticked, connected};
    };
    script().clearShownBoxes();
    script().queueAnswer(IDOK);
    clickControl(dlg, IDC_VERSION_DIFF);
    QVERIFY(!qobject_cast<QCheckBox*>(dlg.control(IDC_VERSION_DIFF))->isChecked());
    QCOMPARE(lastBoxText(dlg), QStringLiteral("没有发现需要升级的设备"));
    QCOMPARE(QString::fromStdString(script().shownBoxes().back().title), QStringLiteral("信息提示"));
    QCOMPARE(connectedTicked().first, 0);
    clickControl(dlg, IDC_VERSION_DIFF);  // tick it again: the older rows and a prompt
    script().clearShownBoxes();
    clickControl(dlg, IDC_SELECT_ALL);
    QVERIFY(qobject_cast<QCheckBox*>(dlg.control(IDC_SELECT_ALL))->isChecked());
    QVERIFY(!qobject_cast<QCheckBox*>(dlg.control(IDC_VERSION_DIFF))->isChecked());
    QCOMPARE(connectedTicked().first, connectedTicked().second);
    QVERIFY(script().shownBoxes().empty());
    QString line1;
    dlg.flowUi().setProgressOpenedHook([&](CProgressDlg& box) { line1 = box.line1(); });
    clickControl(dlg, IDC_SHOW_FAILED);
    dlg.flowUi().setProgressOpenedHook({});
    QCOMPARE(line1, QStringLiteral("正在处理连接失败的设备，请稍后..."));
    const int failed = findRow(dlg, siteAddress(5));
    QVERIFY(failed >= 0);
    QCOMPARE(rowText(dlg, failed, 1), QStringLiteral("连接失败"));
    QCOMPARE(dlg.flow().list().Row(failed)->record.checkEnabled, 0);
    clickControl(dlg, IDC_SHOW_FAILED);
    QCOMPARE(findRow(dlg, siteAddress(5)), -1);
    QCOMPARE(dlg.flow().list().RowCount(), listed);
}

void QuentaUpgradeDlgTest::closingDuringUpgradeCancelsFirst() {
    Cquenta_upgradeDlg& dlg = *dlg_;
    // Fresh versions on the site: the operator path above upgraded two devices already.
    const std::string newer = makePackage("QN通用升级包-2.5.0.quenta", "QN-H200,QN-S210", "2.5.0");
    loadPackage(dlg, newer);
    typeIp(dlg.addressBoxIp(), QString::fromStdString(siteAddress(0)));
    script().queueAnswer(IDNO);
    clickControl(dlg, IDC_QUERY);
    QVERIFY(dlg.flow().list().CountRows(RC_ITEM_CHECKED) >= 1);
    QString cancelLine;
    dlg.flowUi().setProgressOpenedHook([&](CProgressDlg& box) { cancelLine = box.line1(); });
    clickControl(dlg, IDC_UPGRADE);
    QVERIFY(dlg.flow().isUpgrading());
    QVERIFY(!dlg.control(IDC_EXIT)->isEnabled());
    // The close box asks first; "否" keeps the window and the run.
    script().queueAnswer(IDNO);
    dlg.close();
    QCOMPARE(lastBoxText(dlg), QStringLiteral("升级正在进行，确定退出吗？"));
    QVERIFY(dlg.isVisible());
    QVERIFY(cancelLine.isEmpty());
    script().queueAnswer(IDYES);
    dlg.close();  // the close box, "是": cancel, wait for running transfers, then close
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.isVisible(), 60000);
    QVERIFY(dlg.closedByFlow());
    QCOMPARE(cancelLine, QStringLiteral("正在取消，请等待当前文件传输完成..."));
    QVERIFY(!dlg.flow().isUpgrading());
    // The run ended by closing saved its report all the same.
    QVERIFY2(!dlg.flow().lastReportPath().empty(), dlg.flow().lastReportError().c_str());
    QVERIFY(!quenta_test::readWholeFile(dlg.flow().lastReportPath()).empty());
}

void QuentaUpgradeDlgTest::aboutBox() {
    Cquenta_upgradeDlg& dlg = *dlg_;
    bool seen = false;
    QTimer::singleShot(200, [&] {
        auto* about = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (about == nullptr || about->objectName() != QStringLiteral("CHelpDlg")) return;
        seen = about->windowTitle() == QStringLiteral("关于产品升级工具");
        const DialogUnits du = dialogBaseUnits(about->font());
        auto* ok = about->findChild<QPushButton*>(QStringLiteral("button1"));
        seen = seen && ok != nullptr && ok->text() == QStringLiteral("确定") &&
               ok->geometry() == du.toPixels(174, 244, 50, 14) &&
               about->size() == QSize(du.toPixelsX(400), du.toPixelsY(262));
        auto* picture = about->findChild<QLabel*>(QStringLiteral("picture134"));
        seen = seen && picture != nullptr && picture->pixmap().size() == QSize(600, 390);
        about->grab().save(screenshotPath(QStringLiteral("about.png")));
        ok->click();
    });
    auto* banner = dlg.findChild<QLabel*>(QStringLiteral("banner137"));
    QTest::mouseClick(banner, Qt::LeftButton);
    QVERIFY(seen);
}

void QuentaUpgradeDlgTest::verifyBoxReasonMenuAndReport() {
    Cquenta_upgradeDlg& dlg = *dlg_;
    // "升级后验证版本": ticked, and placed where it covers no control of the layout.
    auto* verify = qobject_cast<QCheckBox*>(dlg.control(IDC_VERIFY));
    QVERIFY(verify != nullptr);
    QCOMPARE(verify->text(), QStringLiteral("升级后验证版本"));
    QVERIFY(verify->isChecked());
    QVERIFY(dlg.rect().contains(verify->geometry()));
    for (int id : {1, 2, 1001, 1009, 1011, 1014, 1015, 1016, 1021, 1023, 1027, 1028, 1029, 1030, 1033, 1034,
                   1035, 1012})
        QVERIFY2(!dlg.control(id)->geometry().intersects(verify->geometry()),
                 qPrintable(QString::number(id)));
    QVERIFY(verify->fontMetrics().horizontalAdvance(verify->text()) < verify->width());
    clickControl(dlg, IDC_VERIFY);
    QVERIFY(!dlg.flow().state().checked(IDC_VERIFY));
    clickControl(dlg, IDC_VERIFY);
    QVERIFY(dlg.flow().state().checked(IDC_VERIFY));
    // "分批升级（每个型号先升级一台）": ticked, in the rest of that row, its text whole.
    auto* stages = qobject_cast<QCheckBox*>(dlg.control(IDC_STAGES));
    QVERIFY(stages != nullptr);
    QCOMPARE(stages->text(), QStringLiteral("分批升级（每个型号先升级一台）"));
    QVERIFY(stages->isChecked());
    QVERIFY(dlg.rect().contains(stages->geometry()));
    for (int id : {1, 2, 1001, 1009, 1011, 1014, 1015, 1016, 1021, 1023, 1027, 1028, 1029, 1030, 1033, 1034,
                   1035, 1012, static_cast<int>(IDC_VERIFY)})
        QVERIFY2(!dlg.control(id)->geometry().intersects(stages->geometry()),
                 qPrintable(QString::number(id)));
    QVERIFY(stages->fontMetrics().horizontalAdvance(stages->text()) < stages->width());
    clickControl(dlg, IDC_STAGES);
    QVERIFY(!dlg.flow().state().checked(IDC_STAGES));
    QVERIFY(!stages->isChecked());
    clickControl(dlg, IDC_STAGES);
    QVERIFY(stages->isChecked());

    // Before a query: no recovery, no retry.
    std::unique_ptr<QMenu> menu(dlg.buildListMenu(&dlg));
    QCOMPARE(menu->actions().size(), 5);  // four actions and a separator
    QCOMPARE(menu->actions()[0]->text(), QStringLiteral("重试失败的设备"));
    QCOMPARE(menu->actions()[1]->text(), QStringLiteral("重试选中的设备"));
    QCOMPARE(menu->actions()[2]->text(), QStringLiteral("重新连接失败的设备"));
    QCOMPARE(menu->actions()[4]->text(), QStringLiteral("导出报告..."));
    QVERIFY(!menu->actions()[0]->isEnabled());
    QVERIFY(!menu->actions()[1]->isEnabled());
    QVERIFY(!menu->actions()[2]->isEnabled());

    loadPackage(dlg, generalPackage_);
    typeIp(dlg.addressBoxIp(), QString::fromStdString(siteAddress(0)));
    qobject_cast<QCheckBox*>(dlg.control(IDC_SHOW_FAILED))->setChecked(true);
    dlg.flow().state().setChecked(IDC_SHOW_FAILED, true);
    script().queueAnswer(IDNO);
    clickControl(dlg, IDC_QUERY);
    const int silent = findRow(dlg, siteAddress(5));
    QVERIFY(silent >= 0);
    QCOMPARE(rowText(dlg, silent, 1), QStringLiteral("连接失败"));
    // The status cell's tooltip says why, and whether another try may help.
    auto* report = qobject_cast<CReportCtrl*>(dlg.control(1001));
    QVERIFY(report != nullptr);
    DeviceListModel* model = report->listModel();
    QCOMPARE(model->data(model->index(silent, 1), Qt::ToolTipRole).toString(),
             QStringLiteral("设备从未应答（可重试）"));
    QVERIFY(!model->data(model->index(silent, 4), Qt::ToolTipRole).isValid());

    menu.reset(dlg.buildListMenu(&dlg));
    QVERIFY(!menu->actions()[0]->isEnabled());
    QVERIFY(!menu->actions()[1]->isEnabled());
    QVERIFY(menu->actions()[2]->isEnabled());
    QVERIFY(menu->actions()[4]->isEnabled());
    script().queueAnswer(IDOK);
    menu->actions()[2]->trigger();
    QCOMPARE(lastBoxText(dlg), QStringLiteral("重新连接完成：找回0台设备，仍有1台设备没有应答"));

    // The report: written where the save dialog says; a failed write is an error box.
    const std::string csv = dir_->file("报告.csv");
    script().setNextSaveFile(csv);
    menu->actions()[4]->trigger();
    const std::string written = quenta_test::readWholeFile(csv);
    QVERIFY(written.rfind("\xEF\xBB\xBF", 0) == 0);
    QVERIFY(written.find(siteAddress(5) + ",,,,,,,连接失败,never_answered,设备从未应答") !=
            std::string::npos);
    script().setNextSaveFile(dir_->file("missing/r.json"));
    script().queueAnswer(IDOK);
    menu->actions()[4]->trigger();
    QVERIFY(lastBoxText(dlg).startsWith(QStringLiteral("无法写入报告文件：")));
    QCOMPARE(QString::fromStdString(script().shownBoxes().back().title), QStringLiteral("错误提示"));
}

void QuentaUpgradeDlgTest::fileDialogFilter() {
    QCOMPARE(QtFlowUi::toQtFilter(packageFileFilters()),
             QStringLiteral("昆塔升级文件 (*.quenta);;所有文件 (*.*)"));
    QCOMPARE(QtFlowUi::toQtFilter({{"A", {"*.a", "*.b"}}}), QStringLiteral("A (*.a *.b)"));
    // "浏览" cancelled: nothing changes.
    Cquenta_upgradeDlg& dlg = *dlg_;
    script().setNextOpenFile(std::nullopt);
    clickControl(dlg, IDC_BROWSE);
    QVERIFY(qobject_cast<QLineEdit*>(dlg.control(1014))->text().isEmpty());
    QVERIFY(dlg.modelBoxes().empty());
    QVERIFY(!dlg.control(IDC_QUERY)->isEnabled());
    // The real dialog has a caption, and Qt's own texts in it are Chinese.
    QCOMPARE(installQtChineseTranslation(), 0);
    QString title, accept;
    QTimer::singleShot(300, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        title = dialog->windowTitle();
        accept = dialog->labelText(QFileDialog::Accept);
        dialog->reject();
    });
    QVERIFY(!dlg.flowUi().chooseOpenFile(packageFileFilters()).has_value());
    QCOMPARE(title, QStringLiteral("打开"));
    QVERIFY2(accept.contains(QStringLiteral("打开")), qPrintable(accept));
}

void QuentaUpgradeDlgTest::modelBoxesStayInsideTheirGroup_data() {
    QTest::addColumn<int>("models");
    for (int n : {1, 8, 12, 13, 30, 48}) QTest::newRow(qPrintable(QStringLiteral("%1 models").arg(n))) << n;
}

// Every model box of a package with up to 48 models lies inside group box 1035, above the row of
// 1009-1030, apart from the others, shows its whole name and can be clicked (a box outside the window
// would stay ticked and be sent in the query's Account).
void QuentaUpgradeDlgTest::modelBoxesStayInsideTheirGroup() {
    QFETCH(int, models);
    Cquenta_upgradeDlg& dlg = *dlg_;
    std::string list;
    for (int i = 0; i < models; ++i) list += (i > 0 ? "," : "") + formatString("QN-M%03d", i);
    loadPackage(dlg, makePackage(formatString("QN通用升级包-3.0.%d.quenta", models), list,
                                 formatString("3.0.%d", models)));
    const auto boxes = dlg.modelBoxes();
    QCOMPARE(static_cast<int>(boxes.size()), models);
    const QRect group = dlg.control(IDC_MODEL_GROUP)->geometry();
    int rowTop = dlg.height();
    for (int id : {IDC_QUERY, IDC_SELECT_ALL, IDC_VERSION_DIFF, IDC_SHOW_FAILED, IDC_RADIO_BATCH})
        rowTop = qMin(rowTop, dlg.control(id)->geometry().top());
    for (size_t k = 0; k < boxes.size(); ++k) {
        QCheckBox* box = boxes[k];
        const QRect r = box->geometry();
        const QString which =
            QStringLiteral("box %1: %2,%3 %4x%5").arg(k).arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
        QVERIFY2(group.contains(r), qPrintable(which));
        QVERIFY2(dlg.rect().contains(r), qPrintable(which));
        QVERIFY2(r.bottom() < rowTop, qPrintable(which));
        QVERIFY2(box->isVisible(), qPrintable(which));
        QVERIFY2(box->sizeHint().width() <= r.width() && box->fontMetrics().height() <= r.height(),
                 qPrintable(which + QStringLiteral(" needs ") + QString::number(box->sizeHint().width())));
        for (size_t j = 0; j < k; ++j) QVERIFY2(!boxes[j]->geometry().intersects(r), qPrintable(which));
    }
    if (models == 48) dlg.grab().save(screenshotPath(QStringLiteral("model-boxes-48.png")));
    if (models == 1) {
        QVERIFY(!boxes[0]->isEnabled() && boxes[0]->isChecked());
        return;
    }
    QCheckBox* last = boxes.back();
    QTest::mouseClick(last, Qt::LeftButton, {}, QPoint(4, last->height() / 2));
    QVERIFY(!last->isChecked());
    QVERIFY(!dlg.flow().state().modelBoxes.back().checked);
}

// While a run's jobs report to the rows, the edits that would clear the list (address box IP, the
// mode radios) or rewrite a row ("添加") are off, and the flow refuses them even when they get through.
void QuentaUpgradeDlgTest::listKeptWhileUpgrading() {
    Cquenta_upgradeDlg& dlg = *dlg_;
    queryWith(dlg, "2.6.0");
    const int rows = dlg.flow().list().RowCount();
    QVERIFY(dlg.flow().list().CountRows(RC_ITEM_CHECKED) >= 3);
    // One older device stays out of this run (ticked again below, during the run).
    const int spare = findRow(dlg, siteAddress(3));
    QVERIFY(spare >= 0);
    dlg.flow().list().SetCheck(spare, false);
    script().queueAnswer(IDOK);  // "升级完成！"
    clickControl(dlg, IDC_UPGRADE);
    QVERIFY(dlg.flow().isUpgrading());
    QVERIFY(dlg.flow().runActive());
    for (int id : {IDC_ADDRESS_BOX_IP, IDC_RADIO_BATCH, IDC_RADIO_SINGLE, IDC_SINGLE_IP, IDC_ADD, IDC_QUERY,
                   IDC_CLEAR})
        QVERIFY2(!dlg.control(id)->isEnabled(), qPrintable(QString::number(id)));
    dlg.addressBoxIp()->setText(QStringLiteral("192.0.2.99"));  // an edit that reaches the window anyway
    dlg.OnIpFieldChangedAddressBox();
    QCOMPARE(dlg.addressBoxIp()->text(), QString::fromStdString(siteAddress(0)));
    dlg.flow().setAddressBoxIp("192.0.2.98");
    dlg.flow().OnBnClickedRadioSingle();
    dlg.flow().OnBnClickedButtonClear();
    QCOMPARE(dlg.flow().list().RowCount(), rows);
    QCOMPARE(dlg.flow().state().addressBoxIp, siteAddress(0));
    QVERIFY(qobject_cast<QRadioButton*>(dlg.control(IDC_RADIO_BATCH))->isChecked());
    // "选取与升级包版本不一致的设备" clicked twice during the run: "是" to its prompt does not cancel.
    QTRY_COMPARE_WITH_TIMEOUT(dlg.flow().rowsWithStatus(DEVICE_STATUS_CONNECTED), 1,
                              30000);  // the run took its rows
    bool cancelled = false;
    dlg.flowUi().setProgressOpenedHook([&](CProgressDlg&) { cancelled = true; });
    script().clearAnswers();  // "升级完成！" is answered by the fallback
    script().queueAnswer(IDOK);
    clickControl(dlg, IDC_VERSION_DIFF);
    script().queueAnswer(IDYES);
    clickControl(dlg, IDC_VERSION_DIFF);
    dlg.flowUi().setProgressOpenedHook({});
    QVERIFY2(boxShown(dlg, QStringLiteral("共发现1个不同版本的设备可以升级, 现在立即升级吗？")),
             qPrintable(lastBoxText(dlg)));
    QVERIFY2(!cancelled && (dlg.flow().isUpgrading() || boxShown(dlg, QStringLiteral("升级完成！"))),
             "\"是\" cancelled the running upgrade");
    QTRY_VERIFY_WITH_TIMEOUT(boxShown(dlg, QStringLiteral("升级完成！")), 120000);
    QCOMPARE(dlg.flow().list().RowCount(), rows);
    QTRY_COMPARE_WITH_TIMEOUT(dlg.flow().rowsWithStatus(DEVICE_STATUS_UPGRADE_DONE) +
                                  dlg.flow().rowsWithStatus(DEVICE_STATUS_CONNECTED),
                              rows, 30000);
    QVERIFY(dlg.flow().rowsWithStatus(DEVICE_STATUS_UPGRADE_DONE) >= rows - 1);
    // After the run every control is back as the mode has it.
    for (int id : {IDC_ADDRESS_BOX_IP, IDC_RADIO_BATCH, IDC_RADIO_SINGLE, IDC_QUERY, IDC_CLEAR, IDC_UPGRADE})
        QVERIFY2(dlg.control(id)->isEnabled(), qPrintable(QString::number(id)));
    for (int id : {IDC_SINGLE_IP, IDC_ADD})
        QVERIFY2(!dlg.control(id)->isEnabled(), qPrintable(QString::number(id)));
}

// "升级" right after "取消": the cancelled run has not sent its end yet (its jobs may still be in
// their last exchange). "升级" and the controls that clear the list stay off until that end; the
// version prompt's "是" in that time does not block the window's thread: the new run starts after
// the end.
void QuentaUpgradeDlgTest::upgradeRightAfterCancelDoesNotBlock() {
    Cquenta_upgradeDlg& dlg = *dlg_;
    queryWith(dlg, "2.7.0");
    QVERIFY(dlg.flow().list().CountRows(RC_ITEM_CHECKED) >= 2);
    script().clearShownBoxes();
    clickControl(dlg, IDC_UPGRADE);
    QVERIFY(dlg.flow().isUpgrading());
    script().queueAnswer(IDYES);     // "升级正在进行，确定取消吗？"
    clickControl(dlg, IDC_UPGRADE);  // "取消": returns once no transfer runs
    QVERIFY(!dlg.flow().isUpgrading());
    QCOMPARE(qobject_cast<QPushButton*>(dlg.control(IDC_UPGRADE))->text(), QStringLiteral("升级"));
    QVERIFY(dlg.control(IDC_EXIT)->isEnabled());
    const bool endedAlready = boxShown(dlg, QStringLiteral("升级已取消"));
    QCOMPARE(dlg.flow().runActive(), !endedAlready);
    for (int id : {IDC_UPGRADE, IDC_QUERY, IDC_CLEAR, IDC_ADDRESS_BOX_IP})
        QVERIFY2(dlg.control(id)->isEnabled() == endedAlready, qPrintable(QString::number(id)));
    // The operator answers "是" to a version prompt (1028 ticked again): "升级" at once.
    dlg.flow().list().SetCheck(0, true);
    dlg.flow().OnBnClickedOk();
    if (!endedAlready) {
        QVERIFY2(!boxShown(dlg, QStringLiteral("升级已取消")), "the window waited for the cancelled run");
        QVERIFY(dlg.flow().startPending());
        QVERIFY(!dlg.control(IDC_UPGRADE)->isEnabled());
    }
    // The cancelled run ends, then the new one runs and ends.
    QTRY_VERIFY_WITH_TIMEOUT(boxesShown(dlg, QStringLiteral("升级完成！")) == 1, 120000);
    QCOMPARE(boxesShown(dlg, QStringLiteral("升级已取消")), 1);
    QTRY_VERIFY_WITH_TIMEOUT(dlg.flow().runFinished(), 60000);
    QVERIFY(!dlg.flow().startPending());
    QVERIFY(dlg.control(IDC_UPGRADE)->isEnabled());

    // The list holds the runs' results: an address box IP edit asks first; "否" puts the field back.
    const QString typed = dlg.addressBoxIp()->text();
    const int rows = dlg.flow().list().RowCount();
    script().queueAnswer(IDNO);
    dlg.addressBoxIp()->setText(QStringLiteral("192.0.2.77"));
    dlg.OnIpFieldChangedAddressBox();
    QCOMPARE(lastBoxText(dlg), QStringLiteral("设备列表中有升级结果，确定清空吗？"));
    QCOMPARE(dlg.addressBoxIp()->text(), typed);
    QCOMPARE(dlg.flow().list().RowCount(), rows);
    script().queueAnswer(IDYES);
    dlg.addressBoxIp()->setText(QStringLiteral("192.0.2.77"));
    dlg.OnIpFieldChangedAddressBox();
    QCOMPARE(dlg.flow().list().RowCount(), 0);
    QCOMPARE(dlg.addressBoxIp()->text(), QStringLiteral("192.0.2.77"));
}

// The status line counts per status and filters on a click, the search field finds an IP or serial
// number, neither changes a check; the header shows the chosen sort's arrow.
void QuentaUpgradeDlgTest::statusLineFilterSearchAndSortArrow() {
    Cquenta_upgradeDlg& dlg = *dlg_;
    DeviceList& list = dlg.flow().list();
    auto* view = qobject_cast<CReportCtrl*>(dlg.deviceListWidget());
    QVERIFY(view != nullptr);
    for (int i = 0; i < 40; ++i) {
        const int row = list.InsertRow(list.RowCount());
        list.SetCellText(row, DEVICE_COLUMN_IP, "127.0.3." + std::to_string(i + 1));
        list.SetCellText(row, DEVICE_COLUMN_SERIAL, "QNSER" + std::to_string(1000 + i));
        list.SetOwnerKey(row, 127u | 3u << 16 | static_cast<uint32_t>(i + 1) << 24);
        setRowStatus(list, row, i % 10 == 3 ? DEVICE_STATUS_UPGRADE_FAILED : DEVICE_STATUS_CONNECTED);
        list.SetCheck(row, i % 2 == 0);
    }
    const int ticked = list.CountRows(RC_ITEM_CHECKED);
    dlg.refreshGlance();
    const QString line = dlg.statusLine()->text();
    QVERIFY2(line.contains(QStringLiteral("全部 40")), qPrintable(line));
    QVERIFY2(line.contains(QStringLiteral("已连接 36")), qPrintable(line));
    QVERIFY2(line.contains(QStringLiteral("升级失败 4")), qPrintable(line));
    // The status line and the search field sit in the bottom row between 1029 and 1, clear of both.
    const QRect clear = dlg.control(IDC_CLEAR)->geometry(), upgrade = dlg.control(IDC_UPGRADE)->geometry();
    for (QWidget* w : {static_cast<QWidget*>(dlg.statusLine()), static_cast<QWidget*>(dlg.searchField())}) {
        QVERIFY(w->geometry().left() > clear.right() && w->geometry().right() < upgrade.left());
        QVERIFY(w->geometry().top() >= dlg.deviceListWidget()->geometry().bottom());
    }

    auto shown = [&] {
        int n = 0;
        for (int row = 0; row < list.RowCount(); ++row) n += view->isRowHidden(row) ? 0 : 1;
        return n;
    };
    emit dlg.statusLine()->linkActivated(QStringLiteral("s%1").arg(DEVICE_STATUS_UPGRADE_FAILED));
    QCOMPARE(shown(), 4);
    // A row that fails later joins the filtered view.
    setRowStatus(list, 0, DEVICE_STATUS_UPGRADE_FAILED);
    QCOMPARE(shown(), 5);
    dlg.searchField()->setText(QStringLiteral("qnser1013"));
    QCOMPARE(shown(), 1);
    emit dlg.statusLine()->linkActivated(QStringLiteral("s-1"));  // 全部: everything again
    QCOMPARE(shown(), 40);
    QVERIFY(dlg.searchField()->text().isEmpty());
    dlg.searchField()->setText(QStringLiteral("127.0.3.2"));  // .2 and .20 .. .29
    QCOMPARE(shown(), 11);
    QCOMPARE(list.CountRows(RC_ITEM_CHECKED), ticked);

    // The sort arrow follows the chosen sort; ties stay in numeric IP order; the filter follows rows.
    QHeaderView* header = view->horizontalHeader();
    QVERIFY(!header->isSortIndicatorShown());
    const int statusX = header->sectionViewportPosition(DEVICE_COLUMN_STATUS) + 5;
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(statusX, header->height() / 2));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(statusX, header->height() / 2));
    QVERIFY(header->isSortIndicatorShown());
    QCOMPARE(header->sortIndicatorSection(), static_cast<int>(DEVICE_COLUMN_STATUS));
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
    QCOMPARE(shown(), 11);
    for (int row = 0; row < list.RowCount(); ++row)
        QCOMPARE(view->isRowHidden(row), !QString::fromStdString(list.GetItemText(row, DEVICE_COLUMN_IP))
                                              .contains(QStringLiteral("127.0.3.2")));
    QCOMPARE(QString::fromStdString(list.GetItemText(0, DEVICE_COLUMN_IP)), QStringLiteral("127.0.3.2"));
    QCOMPARE(list.CountRows(RC_ITEM_CHECKED), ticked);
}

// The picture of the status line during a run on a 700-device site (gui-screenshots/
// screenshot-status-line.png): only with QUENTA_TEST_SCREENSHOT_700 set (scripts/glance-screenshots.sh).
void QuentaUpgradeDlgTest::statusLineOn700DeviceSite() {
    if (std::getenv("QUENTA_TEST_SCREENSHOT_700") == nullptr) QSKIP("QUENTA_TEST_SCREENSHOT_700 not set");
    SimConfig config;
    SimAddressBoxConfig box;
    box.device.ip = siteAddress(700);
    box.device.model = "QN-AB100";
    box.device.platform = "A20";
    box.device.serialNum = "QNT0AB10001";
    box.device.softVersion = "1.8.0";
    config.addressBox = box;
    for (int n = 0; n < 700; ++n) {
        SimDeviceConfig d;
        d.ip = siteAddress(n);
        d.model = n % 3 == 0 ? "QN-S210" : "QN-H200";
        d.platform = "hi3516a";
        d.master = 1 + n / 100;
        d.slave = n % 100;
        d.hardVersion = "HW-1.0";
        d.kernelVersion = "3.10.108";
        d.softVersion = n % 50 == 7 ? "2.4.1" : "2.3.9";
        char serial[16];
        std::snprintf(serial, sizeof serial, "QNT2H2%05d", n);
        d.serialNum = serial;
        if (n % 40 == 11) d.faults.tcpErrorText = "存储空间不足";
        if (n % 97 == 5) d.faults.silent = true;
        config.devices.push_back(d);
    }
    SimSite big(config);
    std::string error;
    QVERIFY2(big.open(error) == 0, error.c_str());
    QCOMPARE(big.start(), 0);
    Cquenta_upgradeDlg& dlg = *dlg_;
    loadPackage(dlg, generalPackage_);
    typeIp(dlg.addressBoxIp(), QString::fromStdString(siteAddress(700)));
    script().queueAnswer(IDNO);
    clickControl(dlg, IDC_QUERY);
    QVERIFY(dlg.flow().list().RowCount() > 600);
    clickControl(dlg, IDC_UPGRADE);
    QTRY_VERIFY_WITH_TIMEOUT(dlg.flow().glance().runLine().finished >= 120, 300000);
    dlg.refreshGlance();
    QTest::qWait(300);
    QVERIFY(dlg.grab().save(screenshotPath(QStringLiteral("screenshot-status-line.png"))));
    // Only the failed rows, as a click on their count shows them.
    emit dlg.statusLine()->linkActivated(QStringLiteral("s%1").arg(DEVICE_STATUS_UPGRADE_FAILED));
    QTest::qWait(300);
    QVERIFY(dlg.grab().save(screenshotPath(QStringLiteral("screenshot-status-filter.png"))));
    emit dlg.statusLine()->linkActivated(QStringLiteral("s-1"));
    clickControl(dlg, IDC_UPGRADE);  // 取消
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.flow().runActive(), 300000);
    big.stop();
}

QTEST_MAIN(QuentaUpgradeDlgTest)
#include "quenta_upgradeDlg_test.moc"
