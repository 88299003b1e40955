// Cquenta_upgradeApp on Windows; see quenta_upgrade_app.h.
#include "win32/quenta_upgradeDlg.h"

#include "win32/quenta_upgrade_app.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <type_traits>

#include "ss/ss_dir.h"
#include "ss/ss_log.h"

namespace {

constexpr char kDebugFlagFile[] = "C:\\Work/quenta/bin/SS_DEBUG_ENABLED";
constexpr char kLogFolder[] = "C:\\Work/quenta/temp";

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

void showAlreadyRunning() {
    const std::string text = "程序已经在运行！";
    const std::string title = "错误提示";
    if (Cquenta_upgradeDlg::answerUnshown({text, title, BoxIcon::stop, BoxButtons::ok, 0})) return;
    MessageBoxW(nullptr, L"程序已经在运行！", L"错误提示", MB_OK | MB_ICONSTOP);
}

}  // namespace

bool Cquenta_upgradeApp::InitInstance() {
    // 1. Common controls: size 8, class mask 0xFF (list view, IP address, progress bar, ...).
    INITCOMMONCONTROLSEX controls{8, 0xFF};
    InitCommonControlsEx(&controls);

    // 3.-4. The single-instance object; without a handle the tool runs unprotected.
    UniqueHandle instance(CreateEventW(nullptr, FALSE, FALSE, L"QUENTA_UPGRADE"));
    if (instance && GetLastError() == ERROR_ALREADY_EXISTS) {
        instance.reset();
        SS_LOG_FN(SS_LOG_ERROR, "Cquenta_upgradeApp::InitInstance", "QUENTA_UPGRADE si running already!\n");
        showAlreadyRunning();
        exitCode_ = 1;
        return false;
    }

    // 5. The log, only with the debug flag file (a file, not a folder).
    const int flag = ss_file_attributes(kDebugFlagFile);
    if (flag != -1 && (flag & SS_FILE_ATTRIBUTE_DIRECTORY) == 0) {
        const int folder = ss_file_attributes(kLogFolder);
        if (folder == -1 || (folder & SS_FILE_ATTRIBUTE_DIRECTORY) == 0) ss_dir_createTree(kLogFolder);
        char logPath[255];
        std::memset(logPath, 0, sizeof logPath);
        std::snprintf(logPath, sizeof logPath, "%s/%s/%s/%s", "C:\\Work", "quenta", "temp",
                      "quenta_upgrade.log");
        ss_log_open(logPath);
    }

    // 6. The main window, run modally.
    {
        Cquenta_upgradeDlg dialog;
        dialog.Run();
    }

    // 7. Log off (harmless when it never started); the event goes with `instance`.
    ss_log_close();
    return false;
}
