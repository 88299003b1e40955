// Device statuses and the device list's columns.
#include "engine/device_status.h"

#include <cstdio>

#include "engine/device_list.h"

namespace {

constexpr DeviceStatusEntry kStatusTable[DEVICE_STATUS_COUNT] = {
    {0, "等待连接", 0x000000, 0xFFFFFF},
    {1, "正在连接", 0xFF0000, 0xFFFFFF},
    {2, "正在重试连接", 0xFFFF00, 0xFFFFFF},
    {3, "已连接", 0x000000, 0xE7E5C9},
    {4, "等待升级", 0x000000, 0xFFFFFF},
    {5, "正在升级", 0x000000, 0xFFFFFF},
    {6, "升级完成", 0x000000, 0x00FF00},
    {7, "连接失败", 0x7F7F7F, 0xFFFFFF},
    {8, "升级失败", 0xFFFFFF, 0x0000FF},
    {9, "非法型号", 0x0000FF, 0xF2F2F2},
    {10, "平台不匹配", 0x7F7F7F, 0xF2F2F2},
    {11, "正在验证", 0x000000, 0x99FFFF},  // light yellow: done with the transfer, not yet judged
    {12, "未验证", 0x000000, 0x80C0FF},    // light orange: took the package, new version never seen
};

constexpr DeviceColumnSpec kColumns[DEVICE_COLUMN_COUNT] = {
    {"选择", 40, 1},      {"状态", 150, 1},     {"主机号", 80, 1},  {"分机号", 80, 1},
    {"IP地址", 150, 1},   {"产品型号", 150, 1}, {"序列号", 150, 1}, {"软件版本", 150, 1},
    {"硬件版本", 150, 1}, {"内核版本", 150, 1}, {"协议", 70, 1},
};

}  // namespace

const DeviceStatusEntry* deviceStatusEntry(int code) {
    if (code < 0 || code >= DEVICE_STATUS_COUNT) return nullptr;
    return &kStatusTable[code];
}

void setRowStatus(DeviceList& list, int row, int code) {
    const DeviceStatusEntry* entry = deviceStatusEntry(code);
    // A row outside the list would make the colour operations colour every row: refuse it here.
    if (entry == nullptr || row < 0 || row >= list.RowCount()) return;
    list.SetCellText(row, DEVICE_COLUMN_STATUS, entry->text);
    list.SetRowTextColor(row, entry->textColor);
    list.SetRowBackColor(row, entry->backColor);
}

int rowStatusCode(const DeviceList& list, int row) {
    if (row < 0 || row >= list.RowCount()) return -1;
    const std::string text = list.GetItemText(row, DEVICE_COLUMN_STATUS);
    for (const DeviceStatusEntry& entry : kStatusTable) {
        if (text == entry.text) return entry.code;
    }
    return -1;
}

const DeviceColumnSpec* deviceColumnSpec(int column) {
    if (column < 0 || column >= DEVICE_COLUMN_COUNT) return nullptr;
    return &kColumns[column];
}

std::string buildDeviceColumnDescription() {
    std::string description;
    char piece[128];
    for (int i = 0; i < DEVICE_COLUMN_COUNT; ++i) {
        const DeviceColumnSpec& c = kColumns[i];
        std::snprintf(piece, sizeof piece, i == 0 ? "%s,%d,%d" : ";%s,%d,%d", c.heading, c.width, c.format);
        description += piece;
    }
    return description;
}
