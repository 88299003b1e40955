// CHelpDlg: the about box — the product picture and "确定", on the window's light tint.
#pragma once

#include <QDialog>

class CHelpDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CHelpDlg(QWidget* parent);
};
