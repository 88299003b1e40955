#include "engine/device_query.h"

#include <cstring>

#include "engine/quenta_upgrade_server.h"
#include "protocol/device_actions.h"
#include "protocol/marked_text.h"
#include "protocol/ss_pair.h"
#include "ss/ss_dir.h"
#include "ss/ss_platform.h"
#include "ss/ss_socket.h"

std::optional<DeviceInfo> parseSystemInfoAnswer(const std::string& datagram) {
    if (datagram.empty()) return std::nullopt;
    int kind = 0;
    std::optional<std::string> decoded = decodeMarkedText(datagram.c_str(), kind);
    const std::string& plain = decoded ? *decoded : datagram;
    if (plain.compare(0, 6, "Action") != 0) return std::nullopt;
    SS_PairList pairs;
    stringToPairList(plain.c_str(), pairs);
    std::optional<std::string> action;
    pairListGetString(&pairs, QNKEY_ACTION, action);
    if (!action ||
        action->compare(0, std::strlen(QNACTION_GET_SYSTEM_INFO_OK), QNACTION_GET_SYSTEM_INFO_OK) != 0)
        return std::nullopt;
    return readDeviceInfo(pairs);
}

int queryDeviceInfo(const std::string& narrowIp, DeviceInfo& info, std::string& narrowMessage, bool* heard) {
    static const std::string format = ss_text_utf8ToGbk(kDeviceQuerySilent);
    if (heard != nullptr) *heard = false;
    SS_SocketPtr socket = openJobSocket(nullptr);
    if (!socket) {
        narrowMessage = formatString(format.c_str(), narrowIp.c_str());
        return -1;
    }
    const std::string request = buildActionRequest(QNACTION_GET_SYSTEM_INFO);
    SS_Socket_sendTo(narrowIp.c_str(), QN_PORT_DEVICE, request.c_str(), socket.get());
    ss_platform_sleepMs(50);
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::optional<std::string> text;
        SS_Socket_receive_plain(socket.get(), text);
        if (!text || text->empty()) {
            ss_platform_sleepMs(200);
            continue;
        }
        if (heard != nullptr) *heard = true;
        // An answer whose "IP" was dropped names no device: not taken for the answer.
        if (std::optional<DeviceInfo> answer = parseSystemInfoAnswer(*text); answer && answer->ip) {
            info = std::move(*answer);
            return 0;
        }
    }
    narrowMessage = formatString(format.c_str(), narrowIp.c_str());
    return -1;
}
