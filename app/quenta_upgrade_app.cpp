// Cquenta_upgradeApp; see quenta_upgrade_app.h.
#include "engine/upgrade_flow.h"

#include "app/quenta_upgrade_app.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "engine/app_startup.h"
#include "engine/front_end_text.h"
#include "ss/ss_log.h"
#include "ui/dialog_units.h"
#include "ui/qt_flow_ui.h"
#include "ui/qt_translation.h"
#include "ui/quenta_upgradeDlg.h"

namespace {

constexpr char kInstanceName[] = "QUENTA_UPGRADE";
constexpr char kRegistryKey[] = "应用程序向导生成的本地应用程序";

// SIGTERM / SIGINT / SIGHUP close the window as "退出" does: the handler only writes a byte that
// the GUI thread reads through a socket notifier.
int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const int saved = errno;
    const char byte = 1;
    if (g_signalPipe[1] >= 0) (void)!write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

Cquenta_upgradeApp::~Cquenta_upgradeApp() {
    releaseInstance();
}

std::string Cquenta_upgradeApp::instanceLockPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info {};
    if (runtime != nullptr && runtime[0] == '/' && stat(runtime, &info) == 0 && S_ISDIR(info.st_mode)) {
        return std::string(runtime) + "/" + kInstanceName + ".lock";
    }
    return "/tmp/" + std::string(kInstanceName) + "-" + std::to_string(getuid()) + ".lock";
}

int Cquenta_upgradeApp::acquireInstance() {
    const std::string path = instanceLockPath();
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        return error == EWOULDBLOCK ? 0 : -1;
    }
    instanceFd_ = fd;
    return 1;
}

void Cquenta_upgradeApp::releaseInstance() {
    if (instanceFd_ >= 0) {
        close(instanceFd_);  // drops the lock
        instanceFd_ = -1;
    }
}

bool Cquenta_upgradeApp::InitInstance() {
    // 1. The "common controls": the application's look — icon, and a font that renders Chinese
    //    whatever LANG says (the system sans with the Simplified Chinese face behind it).
    initUiResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/quenta/icon128.png")));
    QApplication::setFont(dialogFont(QStringLiteral("MS Shell Dlg"), 9));
    installQtChineseTranslation();  // Qt's own texts (file dialog, menus, buttons) in Chinese

    // 2. The settings root (the program itself stores nothing under it).
    QCoreApplication::setOrganizationName(QString::fromUtf8(kRegistryKey));
    QCoreApplication::setApplicationName(QStringLiteral("quenta_upgrade"));

    // 3.-4. The single-instance object.
    const int instance = acquireInstance();
    if (instance == 0) {
        if (reportAlreadyRunning())
            QtFlowUi::execMessageBox(nullptr,
                                     {flowtext::kAlreadyRunning, flowtext::kErrorTitle, BoxIcon::stop});
        exitCode_ = 1;
        return false;
    }
    // instance == -1: no lock could be made; the tool runs without single-instance protection.

    // 5. The log, only with the debug flag file (a file, not a folder).
    openStartupDebugLog();

    // 6. The main window, run modally.
    {
        Cquenta_upgradeDlg dialog;
        QSocketNotifier* notifier = nullptr;
        if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
            notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &dialog);
            QObject::connect(notifier, &QSocketNotifier::activated, &dialog, [&dialog] {
                char buffer[16];
                while (read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
                }
                dialog.requestClose();
            });
            struct sigaction action {};
            action.sa_handler = onTerminationSignal;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESTART;
            sigaction(SIGTERM, &action, nullptr);
            sigaction(SIGINT, &action, nullptr);
            sigaction(SIGHUP, &action, nullptr);
        }
        if (!dialog.closedByFlow()) dialog.exec();
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
        delete notifier;
        for (int& fd : g_signalPipe) {
            if (fd >= 0) close(fd);
            fd = -1;
        }
    }

    // 7. Log off (harmless when it never started), single-instance object released.
    ss_log_close();
    releaseInstance();
    return false;
}
