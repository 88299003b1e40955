// test-labels: threads
// CProgressDlg: its texts for the engine's progress reports, the sweeping bar, closing by itself when
// the worker's task returns (also at once), refusing every close while the task runs, a worker that
// cannot start, and QtFlowUi routing progress only to the current box.
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <thread>

#include "ui/CProgressDlg.h"
#include "ui/dialog_units.h"
#include "ui/qt_flow_ui.h"

class CProgressDlgTest : public QObject {
    Q_OBJECT
  private slots:
    void layout();
    void progressTexts_data();
    void progressTexts();
    void taskThatReturnsAtOnce();
    void operatorCannotCloseWhileTaskRuns();
    void workerReportsThroughQueuedCalls();
    void barSweepsAndWraps();
    void workerThatCannotStart();
    void flowUiRoutesProgressToCurrentBoxOnly();
};

void CProgressDlgTest::layout() {
    CProgressDlg box(nullptr, QStringLiteral("正在测试连接，请稍后..."), {});
    QVERIFY(box.windowFlags().testFlag(Qt::FramelessWindowHint));
    const DialogUnits du = dialogBaseUnits(box.font());
    QCOMPARE(box.size(), QSize(du.toPixelsX(188), du.toPixelsY(65)));
    auto* line1 = box.findChild<QLabel*>(QStringLiteral("static1016"));
    auto* bar = box.findChild<QProgressBar*>(QStringLiteral("progress1014"));
    auto* line2 = box.findChild<QLabel*>(QStringLiteral("static1017"));
    auto* cancel = box.findChild<QPushButton*>(QStringLiteral("button1015"));
    QVERIFY(line1 && bar && line2 && cancel);
    QCOMPARE(line1->geometry(), du.toPixels(7, 7, 175, 8));
    QCOMPARE(bar->geometry(), du.toPixels(7, 21, 175, 11));
    QCOMPARE(line2->geometry(), du.toPixels(7, 36, 175, 8));
    QCOMPARE(cancel->text(), QStringLiteral("取消"));
    QCOMPARE(line1->text(), QStringLiteral("正在搜索网路......"));  // until the box opens
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(line1->text(), QStringLiteral("正在测试连接，请稍后..."));
    QVERIFY(cancel->isHidden());
    QCOMPARE(bar->maximum(), 100);
}

void CProgressDlgTest::progressTexts_data() {
    QTest::addColumn<int>("kind");  // 0 search, 1 failed
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("b");
    QTest::addColumn<QString>("line1");
    QTest::addColumn<QString>("line2");
    const QString start = QStringLiteral("正在测试连接，请稍后...");
    QTest::newRow("count and address")
        << 0 << QStringLiteral("192.0.2.7") << 12 << 0 << QStringLiteral("当前已发现设备数量：12")
        << QStringLiteral("正在连接设备：192.0.2.7");
    QTest::newRow("count 0 keeps line 1")
        << 0 << QStringLiteral("192.0.2.9") << 0 << 0 << start << QStringLiteral("正在连接设备：192.0.2.9");
    QTest::newRow("no address empties line 2")
        << 0 << QString() << 3 << 0 << QStringLiteral("当前已发现设备数量：3") << QString();
    QTest::newRow("failed: total first")
        << 1 << QString() << 57 << 20 << start << QStringLiteral("共有 57 连接失败设备，正在处理：20");
}

void CProgressDlgTest::progressTexts() {
    QFETCH(int, kind);
    QFETCH(QString, address);
    QFETCH(int, a);
    QFETCH(int, b);
    QFETCH(QString, line1);
    QFETCH(QString, line2);
    CProgressDlg box(nullptr, QStringLiteral("正在测试连接，请稍后..."), {});
    box.show();
    // A previous line 2 that the report must replace.
    box.OnProgressSearch(QStringLiteral("192.0.2.100"), 0);
    if (kind == 0) {
        box.OnProgressSearch(address.isNull() ? std::nullopt : std::optional<QString>(address), a);
    } else {
        box.OnProgressFailed(a, b);
    }
    QCOMPARE(box.line1(), line1);
    QCOMPARE(box.line2(), line2);
    QCOMPARE(box.findChild<QLabel*>(QStringLiteral("static1016"))->text(), line1);
    QCOMPARE(box.findChild<QLabel*>(QStringLiteral("static1017"))->text(), line2);
}

void CProgressDlgTest::taskThatReturnsAtOnce() {
    CProgressDlg box(nullptr, QStringLiteral("正在取消，请等待当前文件传输完成..."), [] { return 42; });
    QCOMPARE(box.exec(), static_cast<int>(QDialog::Accepted));
    QCOMPARE(box.taskResult(), 42);
    QVERIFY(!box.startFailed());
}

void CProgressDlgTest::operatorCannotCloseWhileTaskRuns() {
    std::atomic<bool> release{false};
    CProgressDlg box(nullptr, QStringLiteral("正在处理连接失败的设备，请稍后..."), [&release] {
        while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return 7;
    });
    bool stayedOpen = false;
    QTimer::singleShot(100, &box, [&] {
        box.reject();
        box.close();
        box.done(QDialog::Rejected);
        QTest::keyClick(&box, Qt::Key_Escape);
        QTest::keyClick(&box, Qt::Key_Return);
        QTest::keyClick(&box, Qt::Key_Enter);
        QCoreApplication::processEvents();
        stayedOpen = box.isVisible();
        release.store(true);
    });
    QCOMPARE(box.exec(), static_cast<int>(QDialog::Accepted));
    QVERIFY(stayedOpen);
    QCOMPARE(box.taskResult(), 7);
}

void CProgressDlgTest::workerReportsThroughQueuedCalls() {
    CProgressDlg* target = nullptr;
    CProgressDlg box(nullptr, QStringLiteral("正在测试连接，请稍后..."), [&target] {
        for (int i = 1; i <= 50; ++i) {
            QMetaObject::invokeMethod(
                target, [i, target] { target->OnProgressSearch(QStringLiteral("192.0.2.%1").arg(i), i); },
                Qt::QueuedConnection);
        }
        QMetaObject::invokeMethod(
            target, [target] { target->OnProgressFailed(50, 50); }, Qt::QueuedConnection);
        return 0;
    });
    target = &box;
    QCOMPARE(box.exec(), static_cast<int>(QDialog::Accepted));
    // Queued calls run in order; the last ones came before the task-done call.
    QCOMPARE(box.line1(), QStringLiteral("当前已发现设备数量：50"));
    QCOMPARE(box.line2(), QStringLiteral("共有 50 连接失败设备，正在处理：50"));
}

void CProgressDlgTest::barSweepsAndWraps() {
    std::atomic<bool> release{false};
    CProgressDlg box(nullptr, QStringLiteral("正在测试连接，请稍后..."), [&release] {
        while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return 0;
    });
    QList<int> seen;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const int value = box.barPosition();
        if (seen.isEmpty() || seen.back() != value) seen << value;
        if (seen.size() >= 3 && seen.contains(100) && seen.back() < 100 &&
            seen.indexOf(100) < seen.size() - 1)
            release.store(true);
    });
    sampler.start(10);
    QTimer::singleShot(30000, [&] { release.store(true); });  // never hangs the test
    box.exec();
    sampler.stop();
    QVERIFY2(seen.contains(100), qPrintable(QStringLiteral("bar values: %1").arg(seen.size())));
    const int top = seen.indexOf(100);
    QVERIFY(top + 1 < seen.size());
    QCOMPARE(seen[top + 1] % 5, 0);
    QVERIFY(seen[top + 1] < 100);  // after the top it starts again from 0
    for (int value : seen) QCOMPARE(value % 5, 0);
}

void CProgressDlgTest::workerThatCannotStart() {
    bool ran = false;
    CProgressDlg::failNextThreadStartForTest();
    CProgressDlg box(nullptr, QStringLiteral("正在测试连接，请稍后..."), [&ran] {
        ran = true;
        return 1;
    });
    QCOMPARE(box.exec(), static_cast<int>(QDialog::Rejected));
    QVERIFY(box.startFailed());
    QVERIFY(!ran);
}

void CProgressDlgTest::flowUiRoutesProgressToCurrentBoxOnly() {
    QWidget owner;
    QtFlowUi ui(&owner, {}, {});
    ui.progressSearch(std::string("192.0.2.1"), 3);  // no box open: ignored
    QString currentLine1, currentLine2, otherLine2;
    std::atomic<bool> release{false};
    auto waitForRelease = [&release] {
        while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return 0;
    };
    ui.setProgressOpenedHook([&](CProgressDlg& box) {
        ui.progressSearch(std::string("192.0.2.8"), 4);
        ui.progressFailed(9, 1);
        if (box.line1().startsWith(QStringLiteral("当前"))) {
            currentLine1 = box.line1();
            currentLine2 = box.line2();
        } else {
            otherLine2 = box.line2();
        }
        release.store(true);
    });
    QCOMPARE(ui.runProgress("正在测试连接，请稍后...", waitForRelease, true), 0);
    QCOMPARE(currentLine1, QStringLiteral("当前已发现设备数量：4"));
    QCOMPARE(currentLine2, QStringLiteral("共有 9 连接失败设备，正在处理：1"));
    release.store(false);
    QCOMPARE(ui.runProgress("正在取消，请等待当前文件传输完成...", waitForRelease, false), 0);
    QCOMPARE(otherLine2, QString());  // the cancel box is not the current progress box
    QCOMPARE(ui.modalDepth(), 0);
}

QTEST_MAIN(CProgressDlgTest)
#include "CProgressDlg_test.moc"
