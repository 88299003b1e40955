// The values of a device's "GetSystemInfoOK" answer that the batch flow judges and lists: the
// engine's handler thread, the single-device query and the address-box check all produce one.
// Texts are narrow (GBK) as received; a key that was absent or invalid stays empty (std::nullopt).
#pragma once

#include <optional>
#include <string>

#include "protocol/ss_pair.h"

struct DeviceInfo {
    std::optional<std::string> ip;  // "IP": the address the device reports
    std::optional<std::string> platform, softVersion, model, serialNum, hardVersion, kernelVersion,
        uploadPath;
    int master = -1;     // "Master", -1 when missing
    int slave = -1;      // "Slave", -1 when missing
    int tcpSupport = 0;  // "TcpSupport" read as true/false
};

// Reads the keys above out of a parsed GetSystemInfoOK answer. An "IP" that is no usable address
// (acceptNetworkAddress: a name, an old numeric form, loopback, multicast, a local subnet's edge,
// this PC) is dropped with one log line and left absent, so the answer names no device.
DeviceInfo readDeviceInfo(const SS_PairList& pairs);
