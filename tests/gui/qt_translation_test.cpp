// Qt's own texts in Chinese: once the qtbase zh_CN translation is installed, standard buttons, the
// line edits' context menu and the file dialog speak Chinese, whatever the locale of the process.
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
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
    void fileDialog();
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

void QtTranslationTest::fileDialog() {
    QString title, acceptText;
    QTimer::singleShot(300, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        title = dialog->windowTitle();
        acceptText = dialog->labelText(QFileDialog::Accept);
        dialog->reject();
    });
    QFileDialog::getOpenFileName(nullptr, QStringLiteral("打开"), QString(), QStringLiteral("All (*)"),
                                 nullptr, QFileDialog::DontUseNativeDialog);
    QCOMPARE(title, QStringLiteral("打开"));
    QVERIFY2(hasChinese(acceptText), qPrintable(acceptText));
}

QTEST_MAIN(QtTranslationTest)
#include "qt_translation_test.moc"
