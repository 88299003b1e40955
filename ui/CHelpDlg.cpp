// CHelpDlg; see CHelpDlg.h.
#include "ui/CHelpDlg.h"

#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "engine/front_end_text.h"
#include "ui/dialog_units.h"

CHelpDlg::CHelpDlg(QWidget* parent) : QDialog(parent) {
    initUiResources();
    setObjectName(QStringLiteral("CHelpDlg"));
    setModal(true);
    setWindowTitle(QString::fromUtf8(flowtext::kAboutCaption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFont(dialogFont(QStringLiteral("MS Shell Dlg"), 8));
    const DialogUnits du = dialogBaseUnits(font());
    setFixedSize(du.toPixelsX(400), du.toPixelsY(262));

    // One solid brush of 0xF8F3F1 (RGB F1 F3 F8) for the box and every control.
    QPalette tint = palette();
    const QColor brush(0xF1, 0xF3, 0xF8);
    tint.setColor(QPalette::Window, brush);
    tint.setColor(QPalette::Button, brush);
    setPalette(tint);
    setAutoFillBackground(true);

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("picture134"));
    picture->setGeometry(du.toPixels(0, 0, 400, 240));
    picture->setAlignment(Qt::AlignCenter);  // a centred bitmap, not stretched
    picture->setPixmap(QPixmap(QStringLiteral(":/quenta/about134.png")));

    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("button1"));
    ok->setGeometry(du.toPixels(174, 244, 50, 14));
    ok->setDefault(true);
    ok->setFocus();
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
