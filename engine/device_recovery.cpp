#include "engine/device_recovery.h"

#include <algorithm>
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
        // Waits for answers until `until`, taking each as it comes.
        auto receiveUntil = [&](int64_t until) {
            for (int64_t left = until - ss_platform_monotonicMs(); left > 0 && !pending.empty() && !stopped();
                 left = until - ss_platform_monotonicMs()) {
                socket->waitTimeoutMs = static_cast<int>(std::min<int64_t>(left, 5));
                receiveAll();
            }
        };
        // The first round is the one extra pass at the query's pacing; later rounds ask only within
        // the answer waits the budget has left, so silent addresses never cost a second pass.
        int64_t end = INT64_MAX;
        for (int round = 0; round < options.attempts && !pending.empty() && !stopped(); ++round) {
            const size_t before = pending.size();
            for (uint32_t value : order) {
                if (stopped() || ss_platform_monotonicMs() + options.answerWaitMs >= end) break;
                auto it = pending.find(value);
                if (it == pending.end()) continue;
                SS_Socket_sendTo(it->second.c_str(), QN_PORT_DEVICE, request.c_str(), socket.get());
                // The pause between requests also takes in the answers that are already there.
                receiveUntil(ss_platform_monotonicMs() + options.spacingMs);
            }
            receiveUntil(std::min(ss_platform_monotonicMs() + options.answerWaitMs, end));
            if (round == 0)
                end = ss_platform_monotonicMs() + (options.attempts - 1) * int64_t{options.answerWaitMs};
            // Those left after a round that found no one are silent, not unlucky: asking them again
            // would only cost another pass.
            if (pending.size() == before || ss_platform_monotonicMs() + options.answerWaitMs >= end) break;
        }
    }
    std::vector<std::string> missing;
    for (uint32_t value : order)
        if (pending.count(value) != 0) missing.push_back(pending[value]);
    return missing;
}
