// Qt's own texts in Chinese: once the qtbase zh_CN translation is installed, standard buttons and
// the line edits' context menu speak Chinese, whatever the locale of the process (the file dialog of
// "浏览" is checked with the main window).
#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QtTest>

#include "ui/qt_translation.h"

namespace {
bool hasChinese(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF) return true;
    return false;
}
}  // namespace

class QtTranslationTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void standardButtons();
    void lineEditMenu();
};

void QtTranslationTest::initTestCase() {
    QVERIFY2(QFile::exists(qtTranslationsFolder() + QStringLiteral("/qtbase_zh_CN.qm")),
             "qtbase_zh_CN.qm missing (install qt6-translations-l10n)");
    QCOMPARE(installQtChineseTranslation(), 0);
    QCOMPARE(installQtChineseTranslation(), 0);  // once is enough; a second call changes nothing
}

void QtTranslationTest::standardButtons() {
    QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Open);
    QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
    QVERIFY2(hasChinese(box.button(QDialogButtonBox::Ok)->text()),
             qPrintable(box.button(QDialogButtonBox::Ok)->text()));
    QVERIFY(hasChinese(box.button(QDialogButtonBox::Open)->text()));
}

void QtTranslationTest::lineEditMenu() {
    QLineEdit edit(QStringLiteral("192.0.2.2"));
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    int translated = 0, total = 0;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) continue;
        ++total;
        if (hasChinese(action->text())) ++translated;
    }
    QVERIFY(total >= 5);
    QCOMPARE(translated, total);
}

QTEST_MAIN(QtTranslationTest)
#include "qt_translation_test.moc"
