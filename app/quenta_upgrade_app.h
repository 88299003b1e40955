// Cquenta_upgradeApp: the program's entry — refuses a second instance, switches the log on when the
// debug flag file exists, runs the main window modally and ends when it closes.
//
// The single-instance object "QUENTA_UPGRADE" is an exclusive flock() on a lock file named after it
// in $XDG_RUNTIME_DIR (else /tmp, with the user id in the name). The kernel drops the lock with the
// last descriptor, so it disappears with its process, also after a crash; the file itself is only
// the lock's anchor and means nothing while nobody holds it.
#pragma once

#include <string>

class Cquenta_upgradeApp {
  public:
    Cquenta_upgradeApp() = default;
    ~Cquenta_upgradeApp();
    Cquenta_upgradeApp(const Cquenta_upgradeApp&) = delete;
    Cquenta_upgradeApp& operator=(const Cquenta_upgradeApp&) = delete;

    // Needs the QApplication. Always returns false: the process ends after it (exitCode() tells how).
    bool InitInstance();

    // 0 after a normal run, 1 after the second-instance refusal.
    int exitCode() const { return exitCode_; }

    // The lock file of the single-instance object for the current environment.
    static std::string instanceLockPath();

  private:
    // 1 acquired, 0 held by another process, -1 could not be made (start-up goes on unprotected).
    int acquireInstance();
    void releaseInstance();

    int instanceFd_ = -1;  // the open, flock()ed lock file while this process holds the instance
    int exitCode_ = 0;
};
