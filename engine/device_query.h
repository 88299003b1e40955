// Asking one device for its system information from a private UDP port, outside a query: the
// single-device add and the address-box check ask once; recovery and the verifier send their own
// requests and read the answers with parseSystemInfoAnswer.
#pragma once

#include <optional>
#include <string>

#include "engine/device_info.h"

// The message of a device that gave no GetSystemInfoOK (UTF-8; "%s" is its address).
inline constexpr char kDeviceQuerySilent[] = "不能从%s获得系统信息，或许它的软件版本太老";

// A datagram received on a private port: decoded when marked; the device's values when it is a
// GetSystemInfoOK (the action compared over its length), else none.
std::optional<DeviceInfo> parseSystemInfoAnswer(const std::string& datagram);

// One GetSystemInfo to narrowIp:5360 from the next private port (counter from 50000), then up to
// three receives of 200 ms, 200 ms apart after an empty one, for the first GetSystemInfoOK.
// 0 with `info`, or -1 with kDeviceQuerySilent in GBK in narrowMessage. `heard` (when given) tells
// whether anything at all came back, so a silent device is told from one that answered otherwise.
int queryDeviceInfo(const std::string& narrowIp, DeviceInfo& info, std::string& narrowMessage,
                    bool* heard = nullptr);
