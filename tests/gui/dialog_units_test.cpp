// Dialog units and fitting the window to the screen: the units of a font, the shrinking of font and
// units for an area that is too small, and the main window opened on a 1366 x 768 laptop screen and
// on a 1920 x 1080 screen at 150 % scaling: the whole 900 x 472-unit dialog, with a frame, fits the
// available area, and "升级" and "退出" lie on the screen. The screens are those of the offscreen
// platform's configuration, written before the application starts.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QScreen>
#include <QtTest>

#include "engine/dialog_state.h"
#include "tests/support/temp_dir.h"
#include "ui/dialog_units.h"
#include "ui/quenta_upgradeDlg.h"

class DialogUnitsTest : public QObject {
    Q_OBJECT
  private slots:
    void unitsOfAFont();
    void fontThatFitsIsKept();
    void tooSmallAreaShrinksFontAndUnitsAlike();
    void neverBelowHalfSize();
    void windowFitsEachScreen_data();
    void windowFitsEachScreen();
};

void DialogUnitsTest::unitsOfAFont() {
    const QFont font = dialogFont(QStringLiteral("宋体"), 9);
    const DialogUnits units = dialogBaseUnits(font);
    QVERIFY(units.baseX >= 1 && units.baseY >= 1);
    QCOMPARE(units.baseY, static_cast<double>(QFontMetrics(font).height()));
    QCOMPARE(units.toPixelsX(4), static_cast<int>(units.baseX));
    QCOMPARE(units.toPixelsY(8), static_cast<int>(units.baseY));
    DialogUnits half{6.5, 13.0};
    QCOMPARE(half.toPixelsX(1), 2);  // 1.625 rounds to nearest
    QCOMPARE(half.toPixelsX(900), 1463);
    QCOMPARE(half.toPixels(4, 8, 8, 16), QRect(7, 13, 13, 26));
}

void DialogUnitsTest::fontThatFitsIsKept() {
    const QFont font = dialogFont(QStringLiteral("宋体"), 9);
    const FittedDialog fitted = fitDialogToArea(font, QSize(900, 472), QSize(4000, 3000), QSize(16, 40));
    QCOMPARE(fitted.factor, 1.0);
    QCOMPARE(fitted.font, font);
    QCOMPARE(fitted.units.baseX, dialogBaseUnits(font).baseX);
    QCOMPARE(fitted.units.baseY, dialogBaseUnits(font).baseY);
}

void DialogUnitsTest::tooSmallAreaShrinksFontAndUnitsAlike() {
    const QFont font = dialogFont(QStringLiteral("宋体"), 9);
    const DialogUnits own = dialogBaseUnits(font);
    const QSize area(1366, 728);  // a laptop with a task bar
    const FittedDialog fitted = fitDialogToArea(font, QSize(900, 472), area, QSize(16, 40));
    if (own.toPixelsX(900) + 16 <= area.width() && own.toPixelsY(472) + 40 <= area.height())
        QSKIP("this system's Chinese font is small enough to fit without shrinking");
    QVERIFY(fitted.factor < 1.0 && fitted.factor >= 0.5);
    QVERIFY(fitted.units.toPixelsX(900) + 16 <= area.width());
    QVERIFY(fitted.units.toPixelsY(472) + 40 <= area.height());
    // Font and units shrink together, so texts still fit their controls.
    QVERIFY(qAbs(fitted.font.pointSizeF() - 9 * fitted.factor) < 0.01);
    QVERIFY(qAbs(fitted.units.baseX - own.baseX * fitted.factor) < 0.01);
    QVERIFY(qAbs(fitted.units.baseY - own.baseY * fitted.factor) < 0.01);
    // A pixel-sized font shrinks in pixels.
    QFont pixels = font;
    pixels.setPixelSize(24);
    const FittedDialog byPixels = fitDialogToArea(pixels, QSize(900, 472), area, QSize(16, 40));
    QVERIFY(byPixels.font.pixelSize() < 24 && byPixels.font.pixelSize() >= 12);
}

void DialogUnitsTest::neverBelowHalfSize() {
    const QFont font = dialogFont(QStringLiteral("宋体"), 9);
    const FittedDialog fitted = fitDialogToArea(font, QSize(900, 472), QSize(200, 100), QSize(16, 40));
    QCOMPARE(fitted.factor, 0.5);
    QVERIFY(qAbs(fitted.font.pointSizeF() - 4.5) < 0.01);
}

void DialogUnitsTest::windowFitsEachScreen_data() {
    QTest::addColumn<QString>("screen");
    QTest::newRow("1366x768 at 100 %") << QStringLiteral("laptop");
    QTest::newRow("1920x1080 at 150 %") << QStringLiteral("hidpi");
}

void DialogUnitsTest::windowFitsEachScreen() {
    QFETCH(QString, screen);
    QScreen* target = nullptr;
    for (QScreen* s : QGuiApplication::screens())
        if (s->name() == screen) target = s;
    QVERIFY2(target != nullptr, "the offscreen screen configuration was not applied");
    const QRect available = target->availableGeometry();
    if (screen == QLatin1String("hidpi")) {
        QCOMPARE(target->devicePixelRatio(), 1.5);
        QCOMPARE(available.size(), QSize(1280, 720));
    } else {
        QCOMPARE(available.size(), QSize(1366, 768));
    }
    Cquenta_upgradeDlg dlg(nullptr, target);
    QVERIFY(dlg.initialised());
    const DialogUnits& du = dlg.units();
    QCOMPARE(dlg.size(), QSize(du.toPixelsX(900), du.toPixelsY(472)));
    QVERIFY2(dlg.width() + kFrameAllowanceWidth <= available.width() &&
                 dlg.height() + kFrameAllowanceHeight <= available.height(),
             qPrintable(QStringLiteral("%1x%2 in %3x%4")
                            .arg(dlg.width())
                            .arg(dlg.height())
                            .arg(available.width())
                            .arg(available.height())));
    // Not smaller than it has to be: it fills most of the limiting side.
    QVERIFY(dlg.width() + kFrameAllowanceWidth > available.width() * 9 / 10 ||
            dlg.height() + kFrameAllowanceHeight > available.height() * 9 / 10);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.screen(), target);
    QDir().mkpath(QStringLiteral("gui-screenshots"));
    dlg.grab().save(QStringLiteral("gui-screenshots/window-%1.png").arg(screen));
    QVERIFY(available.contains(dlg.geometry()));
    for (int id : {IDC_UPGRADE, IDC_EXIT, IDC_CLEAR}) {
        QWidget* button = dlg.control(id);
        const QRect global(button->mapToGlobal(QPoint(0, 0)), button->size());
        QVERIFY2(available.contains(global), qPrintable(QString::number(id)));
    }
    // Texts still fit their controls: every fixed check box's caption fits beside its mark.
    for (int id : {IDC_SELECT_ALL, IDC_VERSION_DIFF, IDC_SHOW_FAILED}) {
        auto* box = qobject_cast<QCheckBox*>(dlg.control(id));
        QVERIFY(box != nullptr);
        QVERIFY2(box->sizeHint().width() <= box->width() + du.toPixelsX(4), qPrintable(box->text()));
    }
}

int main(int argc, char** argv) {
    // Two screens: a 1366 x 768 laptop at 100 % and a 1920 x 1080 screen at 150 % (logical DPI 144
    // over the base 96, as Windows reports it: 1280 x 720 in logical pixels), beside each other.
    quenta_test::TempDir dir("dialog-units-");
    const std::string config = dir.file("screens.json");
    QFile file(QString::fromStdString(config));
    if (!file.open(QIODevice::WriteOnly)) return 1;
    file.write(R"({ "screens": [
      { "name": "laptop", "x": 0, "y": 0, "width": 1366, "height": 768, "logicalDpi": 96, "dpr": 1 },
      { "name": "hidpi", "x": 1366, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 144,
        "logicalBaseDpi": 96 } ] })");
    file.close();
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + QByteArray::fromStdString(config));
    QApplication application(argc, argv);
    DialogUnitsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "dialog_units_test.moc"
