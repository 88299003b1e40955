// The Windows window querying a site, under wine: opens the real window (boxes answered without
// being shown: the version prompt "否"), loads a package, sets the address box, presses
// " 获取设备列表" and measures the time until the query (with its failed-device step and prompt)
// is over, the rows listed, and the GUI thread's longest stall meanwhile: the longest gap between
// two ticks of a 1 ms thread timer (wine's timers tick every 10 to 16 ms at best). Goal: under
// 100 ms. scripts/windows-bench.sh runs it beside quenta-upgrade-cli.exe's query of the same site.
//
//   win32_window_bench PACKAGE ADDRESS-BOX      (PACKAGE a Windows path, UTF-8 through wmain)
#include "win32/quenta_upgradeDlg.h"

#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "engine/box_seam.h"
#include "win32/win32_text.h"

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point started;
double firstBoxS = -1;        // the version prompt at the query's end
double progressClosedS = -1;  // the query's progress box gone
Cquenta_upgradeDlg* window = nullptr;

double sinceStart() {
    return std::chrono::duration<double>(Clock::now() - started).count();
}

class QuietBoxes : public BoxSeam {
  public:
    explicit QuietBoxes(std::string package) : package_(std::move(package)) { installBoxSeam(this); }
    ~QuietBoxes() override { installBoxSeam(nullptr); }
    std::optional<int> answer(const ShownBox& box) override {
        if (firstBoxS < 0) firstBoxS = sinceStart();
        return box.buttons == BoxButtons::yesNo ? IDNO : IDOK;
    }
    std::optional<std::optional<std::string>> openFile() override {
        return std::optional<std::string>(package_);
    }

  private:
    std::string package_;
};

Clock::time_point lastTick;
double longestGapMs = 0, longestGapEndS = 0;
int ticks = 0, rowsBeforeGap = 0, rowsAfterGap = 0, rowsAtLastTick = 0;
HWND listView = nullptr;
std::vector<int> rowsPerSecond;  // rows listed at the end of each second

void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
    const auto now = Clock::now();
    const int rows = listView != nullptr ? ListView_GetItemCount(listView) : 0;
    const double gap = std::chrono::duration<double, std::milli>(now - lastTick).count();
    if (gap > longestGapMs) {
        longestGapMs = gap;
        longestGapEndS = std::chrono::duration<double>(now - started).count();
        rowsBeforeGap = rowsAtLastTick;
        rowsAfterGap = rows;
    }
    const auto second = static_cast<std::size_t>(std::chrono::duration<double>(now - started).count());
    if (rowsPerSecond.size() <= second) rowsPerSecond.resize(second + 1, rowsAtLastTick);
    rowsPerSecond[second] = rows;
    lastTick = now;
    rowsAtLastTick = rows;
    ++ticks;
    if (progressClosedS < 0 && rows > 0 && window != nullptr && window->openProgress() == nullptr)
        progressClosedS = sinceStart();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: win32_window_bench PACKAGE ADDRESS-BOX\n");
        return 2;
    }
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), 0xFF};
    InitCommonControlsEx(&controls);
    QuietBoxes boxes(win32_narrow(argv[1]));
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (std::swscanf(argv[2], L"%u.%u.%u.%u", &a, &b, &c, &d) != 4) return 2;
    double queryS = -1;
    int rows = 0;
    Cquenta_upgradeDlg::setOpenedHook([&](Cquenta_upgradeDlg& dialog) {
        SendMessageW(dialog.Item(IDC_BROWSE), BM_CLICK, 0, 0);
        HWND box = dialog.Item(IDC_ADDRESS_BOX_IP);
        SendMessageW(box, IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, c, d));
        SendMessageW(dialog.hwnd(), WM_COMMAND, MAKEWPARAM(IDC_ADDRESS_BOX_IP, EN_CHANGE),
                     reinterpret_cast<LPARAM>(box));
        // The operator presses the button on a window that has painted the package's model boxes.
        for (const auto settleEnd = Clock::now() + std::chrono::milliseconds(300); Clock::now() < settleEnd;) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
        listView = dialog.Item(1001);
        window = &dialog;
        started = lastTick = Clock::now();
        const UINT_PTR timer = SetTimer(nullptr, 0, 1, &tick);
        SendMessageW(dialog.Item(IDC_QUERY), BM_CLICK, 0, 0);  // returns when the query is over
        queryS = std::chrono::duration<double>(Clock::now() - started).count();
        tick(nullptr, 0, 0, 0);
        KillTimer(nullptr, timer);
        rows = ListView_GetItemCount(dialog.Item(1001));
        SendMessageW(dialog.Item(IDC_EXIT), BM_CLICK, 0, 0);
    });
    {
        Cquenta_upgradeDlg dialog;
        if (!dialog.Run()) return 1;
    }
    std::printf(
        "window query: %d rows in %.2f s; longest stall of the GUI thread %.0f ms (%d ticks; goal < 100 "
        "ms)\n",
        rows, queryS, longestGapMs, ticks);
    std::printf("progress box closed at %.2f s, the version prompt at %.2f s\n", progressClosedS, firstBoxS);
    std::printf("longest stall ended %.2f s into the query, rows %d -> %d; rows listed by second:",
                longestGapEndS, rowsBeforeGap, rowsAfterGap);
    for (int rows : rowsPerSecond) std::printf(" %d", rows);
    std::printf("\n");
    std::printf("window-query-s %.3f\nwindow-rows %d\nwindow-stall-ms %.0f\n", queryS, rows, longestGapMs);
    return queryS < 0 ? 1 : 0;
}
