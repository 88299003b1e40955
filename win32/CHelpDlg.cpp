// CHelpDlg; see CHelpDlg.h.
#include "win32/CHelpDlg.h"

#include "win32/resource.h"

CHelpDlg::CHelpDlg() : Dialog(IDD_HELP_DIALOG, false), tint_(CreateSolidBrush(0xF8F3F1)) {}

CHelpDlg::~CHelpDlg() {
    if (hwnd() != nullptr) DestroyWindow(hwnd());  // before its brush goes
    DeleteObject(tint_);
}

bool CHelpDlg::OnCommand(int id, int /*code*/, HWND /*control*/) {
    if (id != IDOK && id != IDCANCEL) return false;
    EndModal(id);
    return true;
}

INT_PTR CHelpDlg::OnMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/, bool& handled) {
    switch (message) {
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            SetBkColor(reinterpret_cast<HDC>(wParam), 0xF8F3F1);
            return reinterpret_cast<INT_PTR>(tint_);
        default:
            handled = false;
            return 0;
    }
}
