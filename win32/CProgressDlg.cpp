// CProgressDlg; see CProgressDlg.h.
#include "win32/CProgressDlg.h"

#include <commctrl.h>

#include <atomic>
#include <system_error>

#include "win32/resource.h"
#include "win32/win32_text.h"

CProgressDlg::CProgressDlg(std::string utf8Line1, std::function<int()> task)
    : Dialog(IDD_PROGRESS_DIALOG), lines_{std::move(utf8Line1), {}}, task_(std::move(task)) {
    ShowAfter(kShowDelayMs);
}

CProgressDlg::~CProgressDlg() {
    if (worker_.joinable()) worker_.join();
}

void CProgressDlg::Run(HWND owner) {
    if (RunModal(owner) == -1 && task_ && !worker_.joinable()) {
        // No box: the task still runs on a worker while this thread keeps serving its messages (the
        // flow's wake-ups among them), as the box's own loop would.
        std::atomic<bool> done{false};
        try {
            worker_ = std::thread([this, &done] {
                taskResult_ = task_();
                done.store(true);
            });
        } catch (const std::system_error&) {
            return;  // as if the task had ended
        }
        while (!done.load()) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }
    if (worker_.joinable()) worker_.join();
}

bool CProgressDlg::OnInit() {
    writeLines();
    if (task_) {
        HWND box = hwnd();
        try {
            worker_ = std::thread([this, box] {
                const int result = task_();
                taskDone_.store(true);
                PostMessageW(box, WM_PROGRESS_TASK_DONE, static_cast<WPARAM>(result), 0);
            });
        } catch (const std::system_error&) {
            EndModal(IDCANCEL);  // no worker: as if the task had ended
        }
    }
    ShowWindow(Item(IDC_PROGRESS_CANCEL), SW_HIDE);
    SetTimer(hwnd(), 1, 100, nullptr);
    SendMessageW(Item(IDC_PROGRESS_BAR), PBM_SETRANGE32, 0, 100);
    SendMessageW(Item(IDC_PROGRESS_BAR), PBM_SETSTEP, 5, 0);
    return true;
}

bool CProgressDlg::OnTimer(UINT_PTR id) {
    if (id != 1) return false;
    HWND bar = Item(IDC_PROGRESS_BAR);
    const int before = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
    SendMessageW(bar, PBM_STEPIT, 0, 0);
    if (before == 100) SendMessageW(bar, PBM_SETPOS, 0, 0);
    return true;
}

bool CProgressDlg::OnCommand(int /*id*/, int /*code*/, HWND /*control*/) {
    return true;  // nothing closes the box but its task
}

INT_PTR CProgressDlg::OnMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/, bool& handled) {
    if (message != WM_PROGRESS_TASK_DONE) {
        handled = false;
        return 0;
    }
    taskResult_ = static_cast<int>(wParam);
    EndModal(IDOK);
    return TRUE;
}

void CProgressDlg::OnDestroy() {
    KillTimer(hwnd(), 1);
}

void CProgressDlg::OnProgressSearch(const std::optional<std::string>& utf8Address, int count) {
    lines_.onSearch(utf8Address, count);
    writeLines();
}

void CProgressDlg::OnProgressFailed(int total, int done) {
    lines_.onFailed(total, done);
    writeLines();
}

void CProgressDlg::writeLines() {
    if (hwnd() == nullptr) return;
    SetDlgItemTextW(hwnd(), IDC_PROGRESS_LINE1, Line1().c_str());
    SetDlgItemTextW(hwnd(), IDC_PROGRESS_LINE2, Line2().c_str());
}
