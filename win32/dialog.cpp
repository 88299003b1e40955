// Dialog; see dialog.h.
#include "win32/dialog.h"

#include "win32/dialog_fit.h"

namespace {
constexpr UINT_PTR kShowTimerId = 0x5348;  // ShowAfter's timer; subclasses use small ids
}  // namespace

Dialog::~Dialog() {
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

INT_PTR Dialog::RunModal(HWND owner) {
    ended_ = false;
    result_ = 0;
    const RECT area = workAreaFor(owner);
    if (Create(owner, area) == nullptr) return -1;
    if (!ended_ && hwnd_ != nullptr) centreWindow(hwnd_, owner, area);
    const bool ownerWasEnabled = owner != nullptr && IsWindowEnabled(owner);
    if (ownerWasEnabled) EnableWindow(owner, FALSE);
    if (!ended_) {
        if (showDelayMs_ == 0 || SetTimer(hwnd_, kShowTimerId, showDelayMs_, nullptr) == 0)
            ShowWindow(hwnd_, SW_SHOW);
        running_ = true;
        MSG message;
        while (!ended_) {
            const BOOL got = GetMessageW(&message, nullptr, 0, 0);
            if (got <= 0) {  // WM_QUIT: give it back to the outer loop
                if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
                break;
            }
            if (SwallowKey(message)) continue;
            if (IsDialogMessageW(hwnd_, &message)) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        running_ = false;
    }
    if (ownerWasEnabled) EnableWindow(owner, TRUE);
    if (hwnd_ != nullptr) {
        if (owner != nullptr) SetActiveWindow(owner);  // before the box goes, or the owner falls behind
        DestroyWindow(hwnd_);
    }
    return result_;
}

HWND Dialog::Create(HWND owner, const RECT& area) {
    const auto self = reinterpret_cast<LPARAM>(this);
    if (fitToWorkArea_) {
        if (const auto fitted = fitDialogTemplate(ResourceModule(), resourceId_, area, monitorDpi(area))) {
            fontScale_ = fitted->factor();
            return CreateDialogIndirectParamW(ResourceModule(),
                                              reinterpret_cast<LPCDLGTEMPLATEW>(fitted->bytes.data()), owner,
                                              &Dialog::Procedure, self);
        }
    }
    return CreateDialogParamW(ResourceModule(), MAKEINTRESOURCEW(resourceId_), owner, &Dialog::Procedure,
                              self);
}

void Dialog::EndModal(INT_PTR result) {
    result_ = result;
    ended_ = true;
    PostMessageW(hwnd_, WM_NULL, 0, 0);  // wakes the loop
}

bool Dialog::SwallowKey(const MSG& message) const {
    if (!swallowEnterEscape_ || message.message != WM_KEYDOWN ||
        (message.wParam != VK_RETURN && message.wParam != VK_ESCAPE))
        return false;
    return message.hwnd == hwnd_ || IsChild(hwnd_, message.hwnd);
}

INT_PTR CALLBACK Dialog::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (self == nullptr) return FALSE;
    const INT_PTR result = self->Route(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->hwnd_ = nullptr;
        if (self->running_) self->ended_ = true;
    }
    return result;
}

INT_PTR Dialog::Route(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInit() ? TRUE : FALSE;
        case WM_COMMAND:
            return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
        case WM_NOTIFY:
            return OnNotify(reinterpret_cast<NMHDR*>(lParam)) ? TRUE : FALSE;
        case WM_TIMER:
            if (wParam == kShowTimerId) {
                KillTimer(hwnd_, kShowTimerId);
                ShowWindow(hwnd_, SW_SHOW);
                return TRUE;
            }
            return OnTimer(wParam) ? TRUE : FALSE;
        case WM_CLOSE:
            return OnClose() ? TRUE : FALSE;
        case WM_DESTROY:
            OnDestroy();
            return FALSE;
        default: {
            bool handled = true;
            const INT_PTR result = OnMessage(message, wParam, lParam, handled);
            return handled ? result : FALSE;
        }
    }
}
