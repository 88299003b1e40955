// Texts the front ends place but the flow does not show itself: the progress box's report lines,
// the about box's menu entry and caption, the "already running" and "no window" boxes, and each front end's
// way to retry the failed devices (named in the end-of-run summary). UTF-8, byte for byte.
#pragma once

#include <optional>
#include <string>

namespace flowtext {
inline constexpr char kAboutCaption[] = "关于产品升级工具";
inline constexpr char kAboutMenu[] = "关于产品升级工具(&A)...";
inline constexpr char kAlreadyRunning[] = "程序已经在运行！";
// The main window could not be made (the program ends with exit code 1).
inline constexpr char kWindowFailed[] = "无法打开程序主窗口。";
// The caption of the report's save dialog.
inline constexpr char kExportCaption[] = "导出报告";
// The windows retry through the device list's context menu.
inline constexpr char kRetryByListMenu[] = "设备列表右键菜单中的“重试失败的设备”";
// The command line retries with its option.
inline constexpr char kRetryByOption[] = " --retry N ";
// The command line's first Ctrl+C during a run.
inline constexpr char kCliInterrupted[] =
    "\n已按 Ctrl+C：正在取消升级，正在传输的设备会传完；再按一次 Ctrl+C 立即退出\n";

// Progress box, line 1 once devices were found: "当前已发现设备数量：%d".
std::string progressFound(int count);
// Progress box, line 2 while a device is asked: "正在连接设备：%s".
std::string progressConnecting(const std::string& utf8Address);
// Progress box, line 2 of the failed-device step: "共有 %d 连接失败设备，正在处理：%d".
std::string progressFailed(int total, int done);
}  // namespace flowtext

// The progress box's two lines, updated by the flow's reports (FlowUi::progressSearch /
// progressFailed) as the box shows them.
struct ProgressLines {
    std::string line1, line2;  // UTF-8

    // count > 0 -> line 1 progressFound(count); line 2 progressConnecting(address), or empty.
    void onSearch(const std::optional<std::string>& utf8Address, int count);
    void onFailed(int total, int done);
};
