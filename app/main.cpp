// quenta-upgrade: the operator's window. Everything happens inside Cquenta_upgradeApp::InitInstance.
#include "app/quenta_upgrade_app.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    Cquenta_upgradeApp theApp;
    theApp.InitInstance();
    return theApp.exitCode();
}
