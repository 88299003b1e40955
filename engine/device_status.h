// Device statuses and the device list's columns.
//
// The status table gives each status (the eleven of the tool, 正在验证 and 未验证) its text (UTF-8) and the
// colours of its row; setting a status writes the text into the status column and colours the whole row. A
// row's status is recognised by its status-column text. The column table is what the main dialog hands to
// DeviceList::DefineColumns.
#pragma once

#include <cstdint>
#include <string>

class DeviceList;

enum DeviceStatusCode {
    DEVICE_STATUS_WAIT_CONNECT = 0,        // 等待连接
    DEVICE_STATUS_CONNECTING = 1,          // 正在连接
    DEVICE_STATUS_RETRY_CONNECT = 2,       // 正在重试连接
    DEVICE_STATUS_CONNECTED = 3,           // 已连接
    DEVICE_STATUS_WAIT_UPGRADE = 4,        // 等待升级
    DEVICE_STATUS_UPGRADING = 5,           // 正在升级
    DEVICE_STATUS_UPGRADE_DONE = 6,        // 升级完成
    DEVICE_STATUS_CONNECT_FAILED = 7,      // 连接失败
    DEVICE_STATUS_UPGRADE_FAILED = 8,      // 升级失败
    DEVICE_STATUS_INVALID_MODEL = 9,       // 非法型号
    DEVICE_STATUS_PLATFORM_MISMATCH = 10,  // 平台不匹配
    DEVICE_STATUS_VERIFYING = 11,          // 正在验证: rebooted, waiting for the new version
    DEVICE_STATUS_UNVERIFIED = 12,         // 未验证: took the package, but its new version was never seen
    DEVICE_STATUS_COUNT = 13,
};

struct DeviceStatusEntry {
    int code;
    const char* text;   // UTF-8
    int32_t textColor;  // 0x00BBGGRR
    int32_t backColor;  // 0x00BBGGRR
};

// The entry of a status code; nullptr outside 0..DEVICE_STATUS_COUNT-1.
const DeviceStatusEntry* deviceStatusEntry(int code);

// Status text in column 1, the status's text colour and background on the whole row.
// A code outside the table or a row outside the list changes nothing.
void setRowStatus(DeviceList& list, int row, int code);

// The status code whose text equals the row's column-1 text; -1 when none does.
int rowStatusCode(const DeviceList& list, int row);
inline int rowStatus(const DeviceList& list, int row) {
    return rowStatusCode(list, row);
}

// Columns of the device list.
enum DeviceColumn {
    DEVICE_COLUMN_CHECK = 0,  // 选择 (check box only)
    DEVICE_COLUMN_STATUS = 1,
    DEVICE_COLUMN_MASTER = 2,
    DEVICE_COLUMN_SLAVE = 3,
    DEVICE_COLUMN_IP = 4,
    DEVICE_COLUMN_MODEL = 5,
    DEVICE_COLUMN_SERIAL = 6,
    DEVICE_COLUMN_SOFT_VERSION = 7,
    DEVICE_COLUMN_HARD_VERSION = 8,
    DEVICE_COLUMN_KERNEL_VERSION = 9,
    DEVICE_COLUMN_PROTOCOL = 10,
    DEVICE_COLUMN_COUNT = 11,
};

struct DeviceColumnSpec {
    const char* heading;  // UTF-8
    int width;            // pixels
    int format;           // 1 = centred
};

// The column table (DEVICE_COLUMN_COUNT entries); column outside -> nullptr.
const DeviceColumnSpec* deviceColumnSpec(int column);

// "%s,%d,%d" for the first column and ";%s,%d,%d" for each further one.
std::string buildDeviceColumnDescription();
