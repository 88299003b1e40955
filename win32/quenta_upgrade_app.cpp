// Cquenta_upgradeApp on Windows; see quenta_upgrade_app.h.
#include "win32/quenta_upgradeDlg.h"

#include "win32/quenta_upgrade_app.h"

#include <commctrl.h>

#include <memory>
#include <type_traits>

#include "engine/app_startup.h"
#include "engine/front_end_text.h"
#include "ss/ss_log.h"
#include "win32/win32_text.h"

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

}  // namespace

bool Cquenta_upgradeApp::InitInstance() {
    // 1. Common controls: size 8, class mask 0xFF (list view, IP address, progress bar, ...).
    INITCOMMONCONTROLSEX controls{8, 0xFF};
    InitCommonControlsEx(&controls);

    // 3.-4. The single-instance object; without a handle the tool runs unprotected.
    UniqueHandle instance(CreateEventW(nullptr, FALSE, FALSE, L"QUENTA_UPGRADE"));
    if (instance && GetLastError() == ERROR_ALREADY_EXISTS) {
        instance.reset();
        if (reportAlreadyRunning())
            MessageBoxW(nullptr, win32_widen(flowtext::kAlreadyRunning).c_str(),
                        win32_widen(flowtext::kErrorTitle).c_str(), MB_OK | MB_ICONSTOP);
        exitCode_ = 1;
        return false;
    }

    // 5. The log, only with the debug flag file (a file, not a folder).
    openStartupDebugLog();

    // 6. The main window, run modally.
    {
        Cquenta_upgradeDlg dialog;
        if (!dialog.Run()) {
            MessageBoxW(nullptr, win32_widen(flowtext::kWindowFailed).c_str(),
                        win32_widen(flowtext::kErrorTitle).c_str(), MB_OK | MB_ICONSTOP);
            exitCode_ = 1;
        }
    }

    // 7. Log off (harmless when it never started); the event goes with `instance`.
    ss_log_close();
    return false;
}
