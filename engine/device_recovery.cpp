#include "engine/device_recovery.h"

#include <map>

#include "engine/device_query.h"
#include "engine/quenta_upgrade_server.h"
#include "protocol/device_actions.h"
#include "ss/ss_dir.h"
#include "ss/ss_platform.h"

std::vector<std::string> recoverDevices(const std::vector<std::string>& narrowIps,
                                        const RecoveryOptions& options,
                                        const std::function<void(const DeviceInfo&)>& found,
                                        const std::atomic<int>* stop) {
    // Pending addresses by IPv4 value, in the order given.
    std::map<uint32_t, std::string> pending;
    std::vector<uint32_t> order;
    for (const auto& ip : narrowIps) {
        uint32_t value = ss_ip_toInteger(ip.c_str());
        if (value == 0 || !pending.emplace(value, ip).second) continue;
        order.push_back(value);
    }
    SS_SocketPtr socket = openJobSocket(nullptr);
    auto stopped = [stop] { return stop != nullptr && stop->load() != 0; };
    if (socket) {
        socket->waitTimeoutMs = 5;
        const std::string request = buildActionRequest(QNACTION_GET_SYSTEM_INFO);
        auto receiveAll = [&] {
            for (;;) {
                std::optional<std::string> text;
                SS_Socket_receive_plain(socket.get(), text);
                if (!text) return;
                std::optional<DeviceInfo> info = parseSystemInfoAnswer(*text);
                if (!info || !info->ip) continue;
                auto it = pending.find(ss_ip_toInteger(info->ip->c_str()));
                if (it == pending.end()) continue;  // a late second answer, or a stranger
                pending.erase(it);
                found(*info);
            }
        };
        for (int round = 0; round < options.attempts && !pending.empty() && !stopped(); ++round) {
            for (uint32_t value : order) {
                auto it = pending.find(value);
                if (it == pending.end() || stopped()) continue;
                SS_Socket_sendTo(it->second.c_str(), QN_PORT_DEVICE, request.c_str(), socket.get());
                // The pause between requests also takes in the answers that are already there.
                int64_t until = ss_platform_monotonicMs() + options.spacingMs;
                do receiveAll();
                while (ss_platform_monotonicMs() < until);
            }
            int64_t until = ss_platform_monotonicMs() + options.answerWaitMs;
            while (!pending.empty() && !stopped() && ss_platform_monotonicMs() < until) receiveAll();
        }
    }
    std::vector<std::string> missing;
    for (uint32_t value : order)
        if (pending.count(value) != 0) missing.push_back(pending[value]);
    return missing;
}
