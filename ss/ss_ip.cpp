#include "ss/ss_ip.h"

#include <chrono>
#include <mutex>
#include <optional>

namespace {

struct LocalNetworks {
    std::mutex lock;
    std::vector<SS_PlatformIpv4Network> networks;
    std::chrono::steady_clock::time_point readAt{};
    bool read = false;
    std::optional<std::vector<SS_PlatformIpv4Network>> fixed;  // set by tests
};

LocalNetworks& localNetworks() {
    static LocalNetworks networks;
    return networks;
}

bool notUnicast(std::uint32_t address) {
    const std::uint32_t first = address >> 24;
    return first == 0 || first == 127 || first >= 224;
}

}  // namespace

bool ss_ip_parseCanonical(const char* text, std::uint32_t& address) {
    if (text == nullptr) return false;
    std::uint32_t value = 0;
    const char* c = text;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && *c++ != '.') return false;
        if (*c < '0' || *c > '9') return false;
        if (*c == '0' && c[1] >= '0' && c[1] <= '9') return false;  // a leading zero
        unsigned number = 0;
        for (int digits = 0; *c >= '0' && *c <= '9'; ++c, ++digits) {
            if (digits == 3) return false;
            number = number * 10 + static_cast<unsigned>(*c - '0');
        }
        if (number > 255) return false;
        value = (value << 8) | number;
    }
    if (*c != '\0') return false;
    address = value;
    return true;
}

SS_IpVerdict ss_ip_judge(const char* text, const std::vector<SS_PlatformIpv4Network>& local) {
    std::uint32_t address = 0;
    if (!ss_ip_parseCanonical(text, address)) return SS_IpVerdict::notCanonical;
    if (notUnicast(address)) return SS_IpVerdict::notUnicast;
    for (const SS_PlatformIpv4Network& n : local) {
        if (address == n.address) return SS_IpVerdict::ownAddress;
        if (n.mask > 0xFFFFFFFCu) continue;  // /31 and /32: every address is a host
        const std::uint32_t network = n.address & n.mask;
        if (address == network || address == (network | ~n.mask)) return SS_IpVerdict::subnetEdge;
    }
    return SS_IpVerdict::usable;
}

SS_IpVerdict ss_ip_judge(const char* text) {
    std::uint32_t address = 0;
    if (!ss_ip_parseCanonical(text, address)) return SS_IpVerdict::notCanonical;
    LocalNetworks& local = localNetworks();
    std::lock_guard<std::mutex> guard(local.lock);
    if (local.fixed) return ss_ip_judge(text, *local.fixed);
    const auto now = std::chrono::steady_clock::now();
    if (!local.read || now - local.readAt > std::chrono::seconds(1)) {
        // Unreadable adapters leave the class checks only.
        if (ss_platform_localIpv4Networks(local.networks) != 0) local.networks.clear();
        local.readAt = now;
        local.read = true;
    }
    return ss_ip_judge(text, local.networks);
}

const char* ss_ip_verdictText(SS_IpVerdict verdict) {
    switch (verdict) {
        case SS_IpVerdict::usable:
            return "usable";
        case SS_IpVerdict::notCanonical:
            return "not a dotted IPv4 address";
        case SS_IpVerdict::notUnicast:
            return "not a unicast address";
        case SS_IpVerdict::subnetEdge:
            return "network or broadcast address of a local subnet";
        case SS_IpVerdict::ownAddress:
            return "an address of this PC";
    }
    return "unknown";
}

void ss_ip_setLocalNetworksForTests(const std::vector<SS_PlatformIpv4Network>* networks) {
    LocalNetworks& local = localNetworks();
    std::lock_guard<std::mutex> guard(local.lock);
    if (networks != nullptr)
        local.fixed = *networks;
    else
        local.fixed.reset();
}
