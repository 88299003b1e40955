// quenta-upgrade-unattended: the window program for the application tests. It is the shipped
// program's start-up with one difference: every message box is answered with its default button
// without being shown and printed to standard error as "MESSAGEBOX|title|text". Built with the
// tests only; the shipped quenta-upgrade has no such mode.
#include <QApplication>
#include <cstdio>

#include "app/quenta_upgrade_app.h"
#include "engine/box_seam.h"

namespace {

class PrintingSeam : public BoxSeam {
  public:
    std::optional<int> answer(const ShownBox& box) override {
        std::fprintf(stderr, "MESSAGEBOX|%s|%s\n", box.title.c_str(), box.text.c_str());
        std::fflush(stderr);
        return box.buttons == BoxButtons::yesNo ? IDYES : IDOK;
    }
};

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    PrintingSeam seam;
    installBoxSeam(&seam);
    Cquenta_upgradeApp theApp;
    theApp.InitInstance();
    installBoxSeam(nullptr);
    return theApp.exitCode();
}
