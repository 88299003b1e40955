#include "engine/network_address.h"

#include <string>

#include "ss/ss_ip.h"
#include "ss/ss_log.h"

namespace {

std::string shown(const char* text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    size_t count = 0;
    for (const char* c = text; *c != '\0'; ++c, ++count) {
        if (count == 64) return out + "...";
        const auto byte = static_cast<unsigned char>(*c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            out += *c;
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

}  // namespace

bool acceptNetworkAddress(const char* text, const char* source) {
    if (text == nullptr) return false;
    const SS_IpVerdict verdict = ss_ip_judge(text);
    if (verdict == SS_IpVerdict::usable) return true;
    SS_LOG(SS_LOG_WARN, "Dropped address [%s] from %s: %s\n", shown(text).c_str(), source,
           ss_ip_verdictText(verdict));
    return false;
}

bool acceptTypedAddress(const char* text) {
    return text != nullptr && ss_ip_judge(text) == SS_IpVerdict::usable;
}
