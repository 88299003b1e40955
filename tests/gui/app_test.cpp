// The built quenta-upgrade program: a second start is refused with "程序已经在运行！" while the first
// runs, the single-instance lock disappears with its process (also when it is killed), the debug flag
// file switches the log on (a folder of that name does not), and a termination request closes the
// window as "退出" does; --version answers without a display. Each run gets its own XDG_RUNTIME_DIR
// and drive root inside the test folder. The runs use the test build of the program whose message
// boxes are answered unattended; the shipped program has no such switch, not even through the
// environment.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "quenta_version.h"

namespace {

QString shippedBinary() {
    return QString::fromLocal8Bit(qgetenv("QUENTA_BINARY_DIR")) + QStringLiteral("/app/quenta-upgrade");
}

QString appBinary() {
    return QString::fromLocal8Bit(qgetenv("QUENTA_BINARY_DIR")) +
           QStringLiteral("/tests/quenta-upgrade-unattended");
}

// True while another open file description holds the lock file's flock.
bool lockHeld(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (!held) flock(fd, LOCK_UN);
    ::close(fd);
    return held;
}

// True once the process catches SIGTERM (the window is up and its termination handler installed).
bool catchesSigterm(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (!line.startsWith("SigCgt:")) continue;
        bool ok = false;
        const qulonglong mask = line.mid(7).trimmed().toULongLong(&ok, 16);
        return ok && (mask & (1ull << (SIGTERM - 1))) != 0;
    }
    return false;
}

}  // namespace

class AppTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void init();
    void secondInstanceRefusedWhileFirstRuns();
    void killedInstanceLeavesNoLock();
    void debugFlagFileSwitchesLogOn();
    void debugFlagFolderDoesNotSwitchLogOn();
    void versionNeedsNoDisplayAndTakesNoLock();
    void shippedProgramHasNoUnattendedSwitch();

  private:
    std::unique_ptr<QProcess> start();
    void stop(QProcess& process);
    QProcessEnvironment environment() const;
    QString lockPath() const { return runtime_->path() + QStringLiteral("/QUENTA_UPGRADE.lock"); }
    QString drivePath(const QString& relative) const { return drive_->path() + QLatin1Char('/') + relative; }

    std::unique_ptr<QTemporaryDir> runtime_;
    std::unique_ptr<QTemporaryDir> drive_;
};

void AppTest::initTestCase() {
    if (!QFileInfo(appBinary()).isExecutable() || !QFileInfo(shippedBinary()).isExecutable())
        QSKIP("quenta-upgrade(-unattended) is not built (QUENTA_BINARY_DIR)");
}

void AppTest::init() {
    const QString base = qEnvironmentVariableIsSet("QUENTA_DRIVE_ROOT")
                             ? qEnvironmentVariable("QUENTA_DRIVE_ROOT")
                             : QDir::tempPath();
    QDir().mkpath(base);
    runtime_ = std::make_unique<QTemporaryDir>(base + QStringLiteral("/app-runtime-XXXXXX"));
    drive_ = std::make_unique<QTemporaryDir>(base + QStringLiteral("/app-drive-XXXXXX"));
    QVERIFY(runtime_->isValid() && drive_->isValid());
}

QProcessEnvironment AppTest::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_->path());
    env.insert(QStringLiteral("QUENTA_DRIVE_ROOT"), drive_->path());
    return env;
}

std::unique_ptr<QProcess> AppTest::start() {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment());
    process->start(appBinary(), {});
    if (!process->waitForStarted(30000)) return nullptr;
    return process;
}

void AppTest::stop(QProcess& process) {
    QTRY_VERIFY_WITH_TIMEOUT(catchesSigterm(process.processId()), 60000);
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
}

void AppTest::secondInstanceRefusedWhileFirstRuns() {
    auto first = start();
    QVERIFY(first);
    QTRY_VERIFY_WITH_TIMEOUT(lockHeld(lockPath()), 60000);

    QProcess second;
    second.setProcessEnvironment(environment());
    second.start(appBinary(), {});
    QVERIFY(second.waitForFinished(60000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 1);
    const QString said = QString::fromUtf8(second.readAllStandardError());
    QVERIFY2(said.contains(QStringLiteral("MESSAGEBOX|错误提示|程序已经在运行！")), qPrintable(said));
    QCOMPARE(first->state(), QProcess::Running);  // the first instance is unaffected

    stop(*first);
    if (QTest::currentTestFailed()) return;
    QVERIFY(!lockHeld(lockPath()));
    // Once the first has closed, a new start succeeds.
    auto third = start();
    QVERIFY(third);
    QTRY_VERIFY_WITH_TIMEOUT(lockHeld(lockPath()), 60000);
    stop(*third);
}

void AppTest::killedInstanceLeavesNoLock() {
    auto first = start();
    QVERIFY(first);
    QTRY_VERIFY_WITH_TIMEOUT(lockHeld(lockPath()), 60000);
    first->kill();  // SIGKILL: no clean-up code runs
    QVERIFY(first->waitForFinished(30000));
    QVERIFY(!lockHeld(lockPath()));
    auto next = start();
    QVERIFY(next);
    QTRY_VERIFY_WITH_TIMEOUT(catchesSigterm(next->processId()), 60000);  // it got past the check
    QCOMPARE(next->state(), QProcess::Running);
    stop(*next);
}

void AppTest::debugFlagFileSwitchesLogOn() {
    QVERIFY(QDir().mkpath(drivePath(QStringLiteral("C/Work/quenta/bin"))));
    QFile flag(drivePath(QStringLiteral("C/Work/quenta/bin/SS_DEBUG_ENABLED")));
    QVERIFY(flag.open(QIODevice::WriteOnly));
    flag.close();
    QVERIFY(!QFileInfo::exists(drivePath(QStringLiteral("C/Work/quenta/temp"))));
    auto first = start();
    QVERIFY(first);
    const QString log = drivePath(QStringLiteral("C/Work/quenta/temp/quenta_upgrade.log"));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(log), 60000);  // the folder tree was created
    QTRY_VERIFY_WITH_TIMEOUT(lockHeld(lockPath()), 60000);
    // A refused second start cannot write its line: the log is not open in that process.
    QProcess second;
    second.setProcessEnvironment(environment());
    second.start(appBinary(), {});
    QVERIFY(second.waitForFinished(60000));
    QCOMPARE(second.exitCode(), 1);
    stop(*first);
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QVERIFY(!content.isEmpty());
    QVERIFY(!content.contains("si running already"));
}

void AppTest::debugFlagFolderDoesNotSwitchLogOn() {
    QVERIFY(QDir().mkpath(drivePath(QStringLiteral("C/Work/quenta/bin/SS_DEBUG_ENABLED"))));
    auto first = start();
    QVERIFY(first);
    stop(*first);  // the window was up, so start-up went past the flag check
    QVERIFY(!QFileInfo::exists(drivePath(QStringLiteral("C/Work/quenta/temp/quenta_upgrade.log"))));
    QVERIFY(!QFileInfo::exists(drivePath(QStringLiteral("C/Work/quenta/temp"))));
}

// --version prints the project's version and leaves before Qt starts: no display, no instance lock.
void AppTest::versionNeedsNoDisplayAndTakesNoLock() {
    QProcessEnvironment env = environment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(shippedBinary(), {QStringLiteral("--version")});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(process.readAllStandardOutput(), QByteArray("quenta-upgrade ") + kQuentaVersion + "\n");
    QVERIFY(!QFileInfo::exists(lockPath()));
}

// The environment variable that once answered every box (even "现在立即升级吗？") does nothing in the
// shipped program: its refused second start shows the box and waits for the operator.
void AppTest::shippedProgramHasNoUnattendedSwitch() {
    auto first = start();
    QVERIFY(first);
    QTRY_VERIFY_WITH_TIMEOUT(lockHeld(lockPath()), 60000);
    QProcess second;
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("QUENTA_UPGRADE_AUTO_ANSWER"), QStringLiteral("1"));
    second.setProcessEnvironment(env);
    second.start(shippedBinary(), {});
    QVERIFY(second.waitForStarted(30000));
    QVERIFY(!second.waitForFinished(3000));  // the box is up, nobody answers it
    QVERIFY(!second.readAllStandardError().contains("MESSAGEBOX|"));
    second.kill();
    QVERIFY(second.waitForFinished(30000));
    stop(*first);
}

QTEST_GUILESS_MAIN(AppTest)
#include "app_test.moc"
