// IPv4 address texts that come from the network (the address box's list, a device's "IP") or from
// the operator, judged before they become a record, a row or a destination. Only canonical dotted
// text is read; nothing is ever looked up by name.
#pragma once

#include <cstdint>
#include <vector>

#include "ss/ss_platform_net.h"

enum class SS_IpVerdict {
    usable,        // a unicast address of another host
    notCanonical,  // not four decimal numbers 0-255 without leading zeros ("lobby-panel", "192.0.2.010",
                   // "3221225996", "192.0.524", "192.0.2.267", blanks, signs)
    notUnicast,    // 0.0.0.0/8, loopback 127/8, multicast 224/4, reserved 240/4 and 255.255.255.255
    subnetEdge,    // the network or broadcast address of a subnet this PC is on
    ownAddress,    // an address of this PC
};

// Canonical dotted-quad text to its address in host byte order (192.0.2.1 is 0xC0000201). False for
// anything else.
bool ss_ip_parseCanonical(const char* text, std::uint32_t& address);

// Judges a text against the given adapter addresses (subnets of /31 and /32 have no network or
// broadcast address).
SS_IpVerdict ss_ip_judge(const char* text, const std::vector<SS_PlatformIpv4Network>& local);
// The same against this PC's adapters, read again when the last reading is older than a second.
SS_IpVerdict ss_ip_judge(const char* text);
// The verdict in words, for log lines.
const char* ss_ip_verdictText(SS_IpVerdict verdict);

// Tests: ss_ip_judge(text) uses `networks` instead of the adapters; null returns to the adapters.
void ss_ip_setLocalNetworksForTests(const std::vector<SS_PlatformIpv4Network>* networks);
