// Dialog: a small C++ wrapper over a dialog resource. The static dialog procedure stores `this` at
// WM_INITDIALOG and routes to virtual OnInit / OnCommand / OnNotify / OnTimer / OnMessage;
// SetMsgResult hands a notification's result back through DWLP_MSGRESULT.
//
// Every dialog opens centred over its owner (the main window centred in its monitor's work area);
// one made with FitToWorkArea first shrinks its template's font to fit that work area
// (win32/dialog_fit.h).
//
// RunModal runs the dialog in the caller's own modal loop (the owner disabled meanwhile), in which a
// key-down of Enter or Escape addressed to any window of the dialog is swallowed, so neither key
// presses a button or closes the box. The loop dispatches every message of the thread, so posted
// wake-ups for other windows of the thread are served while it runs. EndModal ends it.
#pragma once

#include <windows.h>

class Dialog {
  public:
    // swallowEnterEscape: the main window and the progress box keep both keys from their controls.
    explicit Dialog(int resourceId, bool swallowEnterEscape = true)
        : resourceId_(resourceId), swallowEnterEscape_(swallowEnterEscape) {}
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Creates the dialog, runs the loop until EndModal and destroys the window; returns EndModal's
    // result, or -1 when the dialog could not be created.
    INT_PTR RunModal(HWND owner);
    void EndModal(INT_PTR result);
    bool IsModalRunning() const { return running_; }

    HWND hwnd() const { return hwnd_; }
    // The fitted point size over the designed one (1 when the dialog fitted as designed).
    double FontScale() const { return fontScale_; }
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

    // The module whose resources the dialogs come from (the running program).
    static HINSTANCE ResourceModule() { return GetModuleHandleW(nullptr); }

  protected:
    virtual bool OnInit() { return true; }  // true: the system sets the focus
    virtual bool OnCommand(int /*id*/, int /*code*/, HWND /*control*/) { return false; }
    virtual bool OnNotify(NMHDR* /*header*/) { return false; }  // result through SetMsgResult
    virtual bool OnTimer(UINT_PTR /*id*/) { return false; }
    virtual bool OnClose() { return false; }  // false: default (IDCANCEL)
    // Any other message; `handled` false lets the default dialog processing run.
    virtual INT_PTR OnMessage(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/, bool& handled) {
        handled = false;
        return 0;
    }
    virtual void OnDestroy() {}

    void SetMsgResult(LRESULT result) { SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result); }
    // Shrink the template's font to the work area before creating the window (call before RunModal).
    void FitToWorkArea() { fitToWorkArea_ = true; }
    // The window appears only once the loop has run this long (a box for a task that ends sooner
    // never flashes up); the owner is disabled from the start all the same. Call before RunModal.
    void ShowAfter(UINT milliseconds) { showDelayMs_ = milliseconds; }

  private:
    static INT_PTR CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Route(UINT message, WPARAM wParam, LPARAM lParam);
    bool SwallowKey(const MSG& message) const;

    int resourceId_;
    bool swallowEnterEscape_;
    bool fitToWorkArea_ = false;
    UINT showDelayMs_ = 0;
    double fontScale_ = 1.0;
    HWND Create(HWND owner, const RECT& area);

    HWND hwnd_ = nullptr;
    bool running_ = false;  // guard: the dialog's thread
    bool ended_ = false;
    INT_PTR result_ = 0;
};
