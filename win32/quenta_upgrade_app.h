// Cquenta_upgradeApp on Windows: the program's entry. Initialises the common controls (size 8,
// class mask 0xFF), refuses a second instance through the named auto-reset event "QUENTA_UPGRADE"
// ("程序已经在运行！" / "错误提示" / stop icon), switches the log on when the debug flag file exists,
// runs the main window modally and ends when it closes; a window that cannot be made is reported
// ("无法打开程序主窗口。") with exit code 1. The event is held for the whole run.
#pragma once

class Cquenta_upgradeApp {
  public:
    // Always returns false: the process ends after it (exitCode() tells how).
    bool InitInstance();
    // 0 after a normal run, 1 after the second-instance refusal or when the window could not be made.
    int exitCode() const { return exitCode_; }

  private:
    int exitCode_ = 0;
};
