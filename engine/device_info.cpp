#include "engine/device_info.h"

#include "engine/network_address.h"
#include "protocol/device_actions.h"

DeviceInfo readDeviceInfo(const SS_PairList& pairs) {
    DeviceInfo info;
    pairListGetString(&pairs, QNKEY_IP, info.ip);
    if (info.ip && !acceptNetworkAddress(info.ip->c_str(), "a device's IP")) info.ip.reset();
    pairListGetString(&pairs, QNKEY_MODEL, info.model);
    pairListGetInt(QNKEY_MASTER, info.master, &pairs);
    pairListGetInt(QNKEY_SLAVE, info.slave, &pairs);
    pairListGetString(&pairs, QNKEY_HARD_VERSION, info.hardVersion);
    pairListGetString(&pairs, QNKEY_PLATFORM, info.platform);
    pairListGetString(&pairs, QNKEY_KERNEL_VERSION, info.kernelVersion);
    pairListGetString(&pairs, QNKEY_SOFT_VERSION, info.softVersion);
    pairListGetString(&pairs, QNKEY_SERIAL_NUM, info.serialNum);
    getTcpSupport(info.tcpSupport, &pairs);
    pairListGetString(&pairs, QNKEY_UPLOAD_PATH, info.uploadPath);
    return info;
}
