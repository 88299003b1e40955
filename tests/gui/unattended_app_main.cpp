// quenta-upgrade-unattended: the window program for the application tests. It is the shipped
// program's start-up with one difference: every message box is answered with its default button
// without being shown and printed to standard error as "MESSAGEBOX|title|text". Built with the
// tests only; the shipped quenta-upgrade has no such mode.
#include <QApplication>
#include <cstdio>

#include "app/quenta_upgrade_app.h"
#include "ui/qt_flow_ui.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QtFlowUi::setBoxAnswerer([](const QtFlowUi::ShownBox& box) -> std::optional<int> {
        std::fprintf(stderr, "MESSAGEBOX|%s|%s\n", box.utf8Title.c_str(), box.utf8Text.c_str());
        std::fflush(stderr);
        return box.buttons == BoxButtons::yesNo ? IDYES : IDOK;
    });
    Cquenta_upgradeApp theApp;
    theApp.InitInstance();
    return theApp.exitCode();
}
