// quenta-upgrade: the operator's window. Everything happens inside Cquenta_upgradeApp::InitInstance.
#include "app/quenta_upgrade_app.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

#include "quenta_version.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {  // answered without a display
        std::printf("quenta-upgrade %s\n", kQuentaVersion);
        return 0;
    }
    QApplication application(argc, argv);
    Cquenta_upgradeApp theApp;
    theApp.InitInstance();
    return theApp.exitCode();
}
