// CProgressDlg: the modal progress box (dialog 130). Its task runs on a worker thread that posts
// WM_PROGRESS_TASK_DONE when the task returned; the box then closes itself. Lines 1 and 2 follow the
// flow's reports; the bar sweeps on timer 1 (step 5 every 100 ms, back to 0 after 100). The operator
// cannot close it: no caption, the cancel button hidden, Enter / Escape swallowed (Dialog), close
// requests ignored. It shows only once its task has run kShowDelayMs.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "engine/front_end_text.h"
#include "win32/dialog.h"
#include "win32/win32_text.h"

inline constexpr UINT WM_PROGRESS_TASK_DONE = WM_USER + 1;

class CProgressDlg : public Dialog {
  public:
    // The box appears only when its task runs longer than this: checking one device, the usual
    // short task, never flashes a box up (the owner is disabled from the start all the same).
    static constexpr UINT kShowDelayMs = 400;

    CProgressDlg(std::string utf8Line1, std::function<int()> task);
    ~CProgressDlg() override;

    // Runs the box modally over `owner`; returns once the task returned (its result in TaskResult).
    void Run(HWND owner);
    int TaskResult() const { return taskResult_; }
    // The task has returned (the box closes as soon as its loop sees the worker's message).
    bool TaskDone() const { return taskDone_.load(); }

    void OnProgressSearch(const std::optional<std::string>& utf8Address, int count);
    void OnProgressFailed(int total, int done);
    std::wstring Line1() const { return win32_widen(lines_.line1); }
    std::wstring Line2() const { return win32_widen(lines_.line2); }

  protected:
    bool OnInit() override;
    bool OnTimer(UINT_PTR id) override;
    bool OnClose() override { return true; }  // ignored
    bool OnCommand(int id, int code, HWND control) override;
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    void OnDestroy() override;

  private:
    void writeLines();

    ProgressLines lines_;  // UTF-8; guard: UI thread
    std::function<int()> task_;
    std::thread worker_;
    std::atomic<bool> taskDone_{false};
    int taskResult_ = 0;  // guard: UI thread (posted from the worker; written by it only without a box)
};
