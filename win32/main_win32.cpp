// quenta-upgrade.exe: the operator's window. Everything happens inside Cquenta_upgradeApp::InitInstance.
#include "win32/quenta_upgrade_app.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    Cquenta_upgradeApp theApp;
    theApp.InitInstance();
    return theApp.exitCode();
}
