// CHelpDlg: the about box (dialog 132), the product picture and "确定", in the window's tint.
#pragma once

#include "win32/dialog.h"

class CHelpDlg : public Dialog {
  public:
    CHelpDlg();
    ~CHelpDlg() override;

  protected:
    bool OnCommand(int id, int code, HWND control) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

  private:
    HBRUSH tint_;  // released with the box
};
