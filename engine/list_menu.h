// The device list's context menu as both windows show it: its entries in order, each enabled as
// the flow allows, and what choosing one does.
#pragma once

#include <vector>

class UpgradeFlow;

// The values are the entries' command ids.
enum class ListCommand {
    retryFailed = 40001,
    recoverUnanswered = 40002,
    exportReport = 40003,
    retrySelected = 40004,
};

struct ListMenuEntry {
    ListCommand command;
    const char* utf8Text;  // flowtext
    bool enabled;
    bool separatorBefore;
};

// "重试失败的设备", "重试选中的设备", "重新连接失败的设备", a separator, "导出报告...".
std::vector<ListMenuEntry> listMenuEntries(const UpgradeFlow& flow);
// Runs the chosen entry (the front end syncs its controls afterwards).
void runListCommand(UpgradeFlow& flow, ListCommand command);
