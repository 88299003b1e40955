// CReportCtrl: real mouse clicks on check boxes (locked and unlocked), the space bar, header clicks,
// the progress cell and the per-cell colours as painted, and the model's consistency.
#include <QAbstractItemModelTester>
#include <QFontDatabase>
#include <QHeaderView>
#include <QImage>
#include <QSignalSpy>
#include <QtTest>

#include "engine/device_list.h"
#include "engine/device_status.h"
#include "ui/CReportCtrl.h"
#include "ui/device_list_model.h"
#include "ui/progress_cell_delegate.h"

namespace {

// A device list as the main window shows it: 11 columns with check boxes.
void defineDeviceList(CReportCtrl& control) {
    QVERIFY(control.DefineColumns(buildDeviceColumnDescription()));
    control.EnableChecks();
}

int addDevice(DeviceList& list, const std::string& ip, int status) {
    const int row = list.InsertRow(list.RowCount());
    list.SetCellText(row, DEVICE_COLUMN_IP, ip);
    setRowStatus(list, row, status);
    return row;
}

QRgb pixel(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFF;
}

QString rgbText(QRgb value) {
    return QString::asprintf("#%06x", value & 0xFFFFFF);
}

// The cell as the table hands it to the delegate (without its grid line).
QRect cellRect(const CReportCtrl& control, int row, int column) {
    return control.visualRect(control.listModel()->index(row, column));
}

bool isBluish(QRgb c) {
    return qBlue(c) - std::max(qRed(c), qGreen(c)) > 100;
}

}  // namespace

class CReportCtrlTest : public QObject {
    Q_OBJECT
  private slots:
    void chineseFontAvailable();
    void modelStaysConsistent();
    void lockedCheckBoxFlipsBackAndKeepsSelection();
    void unlockedCheckBoxBecomesOnlySelection();
    void spaceBarNeverTogglesCheckBox();
    void oneCheckChangeRepaintsOneCell();
    void headerClicksSortAndToggleDirection();
    void viewSelectionReachesList();
    void progressCellIsDrawnAsDescribed_data();
    void progressCellIsDrawnAsDescribed();
    void cellColoursArePainted();
    void columnsZeroAndOneAreFixedWidth();
    void lockedRowRefusesCheckThroughModel();
    void localeDatesSortByTime();
    void progressTextFormat();
};

void CReportCtrlTest::chineseFontAvailable() {
    QVERIFY2(!QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty(),
             "no Simplified Chinese font installed: the list would show boxes");
}

void CReportCtrlTest::modelStaysConsistent() {
    CReportCtrl control;
    QAbstractItemModelTester tester(control.listModel(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy aboutToChange(control.listModel(), &QAbstractItemModel::layoutAboutToBeChanged);
    QSignalSpy changed(control.listModel(), &QAbstractItemModel::layoutChanged);
    defineDeviceList(control);
    DeviceList& list = control.list();
    for (int i = 0; i < 20; ++i) addDevice(list, "10.0.0." + std::to_string(20 - i), i % DEVICE_STATUS_COUNT);
    list.SetCheck(3, true);
    list.StartCellProgress(4);
    list.SetCellProgressPercent(4, 55);
    list.RefreshStatusCell(4);
    list.OnHeaderClick(DEVICE_COLUMN_IP);
    list.OnHeaderClick(DEVICE_COLUMN_STATUS);
    list.DeleteRow(0);
    list.SetRowTextColor(-1, 0x123456);
    list.InsertRow(2);
    list.SetCellText(2, 0, "plain");
    list.DeleteAllRows();
    defineDeviceList(control);
    QCOMPARE(aboutToChange.count(), 2);
    QCOMPARE(changed.count(), aboutToChange.count());
}

void CReportCtrlTest::lockedCheckBoxFlipsBackAndKeepsSelection() {
    CReportCtrl control;
    defineDeviceList(control);
    DeviceList& list = control.list();
    for (int i = 0; i < 3; ++i) addDevice(list, "10.0.0." + std::to_string(i), DEVICE_STATUS_CONNECTED);
    list.LockRowCheck(1);
    list.SetSelected(2, true);
    list.SetFocusedRow(2);
    control.resize(900, 300);
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    QSignalSpy checks(&control, &CReportCtrl::checkChanged);

    const QRect box = control.checkBoxRect(1);
    QVERIFY(!box.isEmpty());
    QTest::mouseClick(control.viewport(), Qt::LeftButton, {}, box.center());
    QTest::mouseDClick(control.viewport(), Qt::LeftButton, {}, box.center());
    QCOMPARE(list.GetCheck(1), false);
    QCOMPARE(checks.count(), 0);
    QCOMPARE(list.CountRows(RC_ITEM_SELECTED), 1);
    QVERIFY(list.IsSelected(2));
    QCOMPARE(control.selectionModel()->selectedRows().size(), 1);
    QCOMPARE(control.selectionModel()->selectedRows().first().row(), 2);
    QCOMPARE(control.listModel()->data(control.listModel()->index(1, 0), Qt::CheckStateRole).toInt(),
             int(Qt::Unchecked));
}

void CReportCtrlTest::unlockedCheckBoxBecomesOnlySelection() {
    CReportCtrl control;
    defineDeviceList(control);
    DeviceList& list = control.list();
    for (int i = 0; i < 4; ++i) addDevice(list, "10.0.0." + std::to_string(i), DEVICE_STATUS_CONNECTED);
    control.resize(900, 300);
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    control.selectRow(0);
    control.selectionModel()->select(control.listModel()->index(3, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QCOMPARE(list.CountRows(RC_ITEM_SELECTED), 2);
    QSignalSpy checks(&control, &CReportCtrl::checkChanged);

    QTest::mouseClick(control.viewport(), Qt::LeftButton, {}, control.checkBoxRect(2).center());
    QVERIFY(list.GetCheck(2));
    QCOMPARE(checks.count(), 1);
    QCOMPARE(checks.at(0).at(0).toInt(), 2);
    QCOMPARE(checks.at(0).at(1).value<CheckClick>(), CheckClick::Single);
    QCOMPARE(list.CountRows(RC_ITEM_SELECTED), 1);
    QVERIFY(list.IsSelected(2));
    QCOMPARE(list.FocusedRow(), 2);
    QCOMPARE(control.selectionModel()->selectedRows().size(), 1);
    QCOMPARE(control.selectionModel()->selectedRows().first().row(), 2);
    QCOMPARE(control.currentIndex().row(), 2);

    // A click beside the box selects the row without touching its check.
    const QRect cell = cellRect(control, 1, 5);
    QTest::mouseClick(control.viewport(), Qt::LeftButton, {}, cell.center());
    QVERIFY(!list.GetCheck(1));
    QVERIFY(list.IsSelected(1));
    QCOMPARE(checks.count(), 1);

    // Every toggle of a double click is reported; the final state matches the number of toggles.
    QTest::mouseDClick(control.viewport(), Qt::LeftButton, {}, control.checkBoxRect(0).center());
    QVERIFY(checks.count() >= 2);
    QCOMPARE(list.GetCheck(0), (checks.count() - 1) % 2 == 1);
    QCOMPARE(checks.last().at(1).value<CheckClick>(), CheckClick::Double);
}

void CReportCtrlTest::spaceBarNeverTogglesCheckBox() {
    CReportCtrl control;
    defineDeviceList(control);
    DeviceList& list = control.list();
    addDevice(list, "10.0.0.1", DEVICE_STATUS_CONNECTED);
    addDevice(list, "10.0.0.2", DEVICE_STATUS_CONNECTED);
    list.SetCheck(1, true);
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    control.setFocus();
    QSignalSpy checks(&control, &CReportCtrl::checkChanged);
    for (int row : {0, 1}) {
        control.setCurrentIndex(control.listModel()->index(row, 0));
        QTest::keyClick(&control, Qt::Key_Space);
        QTest::keyClick(control.viewport(), Qt::Key_Space);
    }
    QCOMPARE(list.GetCheck(0), false);
    QCOMPARE(list.GetCheck(1), true);
    QCOMPARE(checks.count(), 0);
}

void CReportCtrlTest::oneCheckChangeRepaintsOneCell() {
    CReportCtrl control;
    defineDeviceList(control);
    DeviceList& list = control.list();
    for (int i = 0; i < 5; ++i) addDevice(list, "10.0.0." + std::to_string(i), DEVICE_STATUS_CONNECTED);
    QSignalSpy data(control.listModel(), &QAbstractItemModel::dataChanged);
    QSignalSpy reset(control.listModel(), &QAbstractItemModel::modelReset);
    list.SetCheck(3, true);
    list.StartCellProgress(2);
    QCOMPARE(data.count(), 2);
    const auto check = data.at(0);
    QCOMPARE(check.at(0).toModelIndex(), control.listModel()->index(3, 0));
    QCOMPARE(check.at(1).toModelIndex(), control.listModel()->index(3, 0));
    QCOMPARE(data.at(1).at(0).toModelIndex(), control.listModel()->index(2, 1));
    QCOMPARE(data.at(1).at(1).toModelIndex(), control.listModel()->index(2, 1));
    QCOMPARE(reset.count(), 0);
}

void CReportCtrlTest::headerClicksSortAndToggleDirection() {
    CReportCtrl control;
    defineDeviceList(control);
    DeviceList& list = control.list();
    const char* values[] = {"9", "1A", "10", "2"};
    for (const char* v : values) {
        const int row = addDevice(list, v, DEVICE_STATUS_CONNECTED);
        list.SetCellText(row, DEVICE_COLUMN_SERIAL, std::string("SN") + v);
    }
    list.LockRowCheck(1);  // the "1A" row
    control.resize(1400, 300);
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    QSignalSpy sortedSpy(&control, &CReportCtrl::sorted);
    QHeaderView* header = control.horizontalHeader();
    auto clickHeader = [&](int column) {
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    };
    auto ips = [&] {
        QStringList texts;
        for (int r = 0; r < list.RowCount(); ++r)
            texts << control.listModel()->index(r, DEVICE_COLUMN_IP).data().toString();
        return texts;
    };

    clickHeader(DEVICE_COLUMN_IP);
    QCOMPARE(ips(), (QStringList{"2", "9", "10", "1A"}));
    clickHeader(DEVICE_COLUMN_IP);
    QCOMPARE(ips(), (QStringList{"1A", "10", "9", "2"}));
    QVERIFY(list.IsRowCheckLocked(0));  // the record moved with its row
    QCOMPARE(list.GetItemText(0, DEVICE_COLUMN_SERIAL), "SN1A");
    clickHeader(DEVICE_COLUMN_SERIAL);
    QCOMPARE(ips(), (QStringList{"10", "1A", "2", "9"}));  // "SN..." texts compare as text
    list.SetCellText(0, DEVICE_COLUMN_MODEL, "x");         // resets the sort state
    clickHeader(DEVICE_COLUMN_SERIAL);
    QCOMPARE(sortedSpy.count(), 4);
    const std::pair<int, bool> expected[] = {{DEVICE_COLUMN_IP, true},
                                             {DEVICE_COLUMN_IP, false},
                                             {DEVICE_COLUMN_SERIAL, true},
                                             {DEVICE_COLUMN_SERIAL, true}};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(sortedSpy.at(i).at(0).toInt(), expected[i].first);
        QCOMPARE(sortedSpy.at(i).at(1).toBool(), expected[i].second);
    }
    // A hidden header sorts nothing.
    header->hide();
    control.SortByColumn(DEVICE_COLUMN_IP, false);
    QCOMPARE(sortedSpy.count(), 4);
}

void CReportCtrlTest::viewSelectionReachesList() {
    CReportCtrl control;
    defineDeviceList(control);
    DeviceList& list = control.list();
    for (int i = 0; i < 3; ++i) addDevice(list, "10.0.0." + std::to_string(i), DEVICE_STATUS_CONNECTED);
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    QTest::mouseClick(control.viewport(), Qt::LeftButton, {}, cellRect(control, 1, 6).center());
    QVERIFY(list.IsSelected(1));
    QCOMPARE(list.FocusedRow(), 1);
    QCOMPARE(list.CountRows(RC_ITEM_SELECTED | RC_ITEM_FOCUSED), 1);
    // Selection and focus move with the rows of a sort.
    list.SortByColumn(DEVICE_COLUMN_IP, false);
    QVERIFY(list.IsSelected(1));
    QCOMPARE(control.selectionModel()->selectedRows().first().row(), 1);
}

void CReportCtrlTest::progressCellIsDrawnAsDescribed_data() {
    QTest::addColumn<int>("percent");
    QTest::newRow("0 %") << 0;
    QTest::newRow("37 %") << 37;
    QTest::newRow("100 %") << 100;
}

void CReportCtrlTest::progressCellIsDrawnAsDescribed() {
    QFETCH(int, percent);
    CReportCtrl control;
    defineDeviceList(control);
    DeviceList& list = control.list();
    addDevice(list, "10.0.0.1", DEVICE_STATUS_CONNECTED);
    const int row = addDevice(list, "10.0.0.2", DEVICE_STATUS_UPGRADING);
    control.verticalHeader()->setDefaultSectionSize(24);
    control.resize(900, 300);
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    QVERIFY(list.StartCellProgress(row));
    list.SetCellProgressPercent(row, percent);
    list.RefreshStatusCell(row);

    const QImage image = control.viewport()->grab().toImage();
    const QRect cell = cellRect(control, row, DEVICE_COLUMN_STATUS);
    // Exclusive edges of the framed box: left moved right by 1, bottom moved up by 1.
    const int left = cell.x() + 1, top = cell.y(), right = cell.x() + cell.width(),
              bottom = cell.y() + cell.height() - 1;
    const int midY = (top + bottom) / 2, midX = (left + right) / 2;
    const QRgb black = 0x000000, white = 0xFFFFFF, green = 0x00FF00;
    QCOMPARE(rgbText(pixel(image, left, midY)), rgbText(black));
    QCOMPARE(rgbText(pixel(image, right - 1, midY)), rgbText(black));
    QCOMPARE(rgbText(pixel(image, midX, top)), rgbText(black));
    QCOMPARE(rgbText(pixel(image, midX, bottom - 1)), rgbText(black));

    const int greenRight = left + percent * (right - (left + 1)) / 100;  // exclusive
    const int y = top + 1;  // first row inside the frame, above the text
    if (percent == 0) {
        for (int x = left + 1; x < right - 1; ++x) QCOMPARE(rgbText(pixel(image, x, y)), rgbText(white));
        for (int x = left + 1; x < right - 1; ++x) QCOMPARE(rgbText(pixel(image, x, midY)), rgbText(white));
    } else {
        for (int x = left + 1; x < greenRight; ++x) QCOMPARE(rgbText(pixel(image, x, y)), rgbText(green));
        for (int x = greenRight; x < right - 1; ++x) QCOMPARE(rgbText(pixel(image, x, y)), rgbText(white));
        QCOMPARE(rgbText(pixel(image, left + 1, bottom - 2)), rgbText(green));
        QCOMPARE(rgbText(pixel(image, left + 1, bottom - 1)), rgbText(black));
    }
    int blue = 0;
    for (int yy = top + 1; yy < bottom - 1; ++yy)
        for (int x = left + 1; x < right - 1; ++x) blue += isBluish(image.pixel(x, yy)) ? 1 : 0;
    if (percent == 0)
        QCOMPARE(blue, 0);
    else
        QVERIFY2(blue > 5, qPrintable(QString("blue text pixels: %1").arg(blue)));

    // The row above is drawn normally: its status cell shows no frame.
    const QRect other = cellRect(control, 0, DEVICE_COLUMN_STATUS);
    QVERIFY(pixel(image, other.x() + 1, other.center().y()) != black);

    list.StopCellProgress(row);
    const QImage after = control.viewport()->grab().toImage();
    QVERIFY(pixel(after, left, midY) != black);
}

void CReportCtrlTest::cellColoursArePainted() {
    CReportCtrl control;
    defineDeviceList(control);
    DeviceList& list = control.list();
    addDevice(list, "10.0.0.1", DEVICE_STATUS_UPGRADE_FAILED);  // white on red (0x0000FF)
    const int row = addDevice(list, "10.0.0.2", DEVICE_STATUS_CONNECTED);
    list.SetCellText(row, DEVICE_COLUMN_SERIAL, "WWWWWWWWWWWW");
    list.SetRowTextColor(row, 0xFF0000);  // blue text
    list.SetRowBackColor(row, 0x00FFFF);  // yellow background
    addDevice(list, "10.0.0.3", DEVICE_STATUS_CONNECTED);
    list.SetRowBackColor(2, DEVICE_LIST_DEFAULT_COLOR);
    control.resize(1400, 300);
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    const QImage image = control.viewport()->grab().toImage();

    auto at = [&](int r, int c) {
        const QRect cell = cellRect(control, r, c);
        return pixel(image, cell.x() + 3, cell.y() + 2);  // a corner of the cell, away from the text
    };
    QCOMPARE(rgbText(at(0, DEVICE_COLUMN_SERIAL)), rgbText(0xFF0000));  // red background
    QCOMPARE(rgbText(at(1, DEVICE_COLUMN_SERIAL)), rgbText(0xFFFF00));  // yellow background
    QCOMPARE(rgbText(at(2, DEVICE_COLUMN_SERIAL)), rgbText(control.palette().color(QPalette::Base).rgb()));

    int blueText = 0;
    const QRect serial = cellRect(control, row, DEVICE_COLUMN_SERIAL);
    for (int y = serial.top(); y <= serial.bottom(); ++y)
        for (int x = serial.left(); x <= serial.right(); ++x) blueText += isBluish(image.pixel(x, y)) ? 1 : 0;
    QVERIFY2(blueText > 10, qPrintable(QString("blue text pixels: %1").arg(blueText)));
}

void CReportCtrlTest::columnsZeroAndOneAreFixedWidth() {
    CReportCtrl control;
    defineDeviceList(control);
    QHeaderView* header = control.horizontalHeader();
    QCOMPARE(header->sectionResizeMode(0), QHeaderView::Fixed);
    QCOMPARE(header->sectionResizeMode(1), QHeaderView::Fixed);
    for (int c = 2; c < DEVICE_COLUMN_COUNT; ++c)
        QCOMPARE(header->sectionResizeMode(c), QHeaderView::Interactive);
    QCOMPARE(header->sectionSize(0), 40);
    QCOMPARE(header->sectionSize(1), 150);
    QCOMPARE(header->sectionSize(3), 80);
    QCOMPARE(header->sectionSize(10), 70);
    QVERIFY(control.showGrid());
    QCOMPARE(control.selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(control.listModel()->headerData(4, Qt::Horizontal).toString(), QString("IP地址"));
}

void CReportCtrlTest::lockedRowRefusesCheckThroughModel() {
    CReportCtrl control;
    defineDeviceList(control);
    DeviceList& list = control.list();
    addDevice(list, "10.0.0.1", DEVICE_STATUS_INVALID_MODEL);
    addDevice(list, "10.0.0.2", DEVICE_STATUS_CONNECTED);
    list.LockRowCheck(0);
    DeviceListModel* model = control.listModel();
    QSignalSpy checks(&control, &CReportCtrl::checkChanged);
    QVERIFY(!model->setData(model->index(0, 0), Qt::Checked, Qt::CheckStateRole));
    QVERIFY(!list.GetCheck(0));
    QVERIFY(model->setData(model->index(1, 0), Qt::Checked, Qt::CheckStateRole));
    QVERIFY(list.GetCheck(1));
    QCOMPARE(checks.count(), 1);
    QVERIFY(!model->setData(model->index(1, 3), Qt::Unchecked, Qt::CheckStateRole));  // not a check cell
    QVERIFY(!(model->flags(model->index(1, 1)) & Qt::ItemIsEditable));
}

void CReportCtrlTest::localeDatesSortByTime() {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    CReportCtrl control;
    defineDeviceList(control);
    DeviceList& list = control.list();
    // As text "1/5/24" would come first; as dates of the pinned locale 12/31/23 does.
    QCOMPARE(list.CompareCells("12/31/23", "1/5/24"), -1);
    QCOMPARE(list.CompareCells("1/5/24", "12/31/23"), 1);
    QCOMPARE(list.CompareCells("2024-01-05T10:00:00", "2024-01-05T09:59:00"), 1);
    QCOMPARE(list.CompareCells("V1.10", "V1.9"), -1);
    QVERIFY(!CReportCtrl::parseLocaleDate("192.168.1.10").has_value());
    QLocale::setDefault(saved);
}

void CReportCtrlTest::progressTextFormat() {
    QCOMPARE(formatProgressText("", 37), QString("37%"));
    QCOMPARE(formatProgressText("%d/100", 5), QString("5/100"));
    QCOMPARE(formatProgressText("%s%n%x %", 5), QString("%s%n%x %"));  // nothing else is interpreted
}

QTEST_MAIN(CReportCtrlTest)
#include "CReportCtrl_test.moc"
