// Fuzzes hexToBytes: the count follows the length rule, and lowercase hex input comes back exactly.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "protocol/marked_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<uint8_t> bytes = hexToBytes(text.c_str());
    size_t n = std::strlen(text.c_str());
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n')) --n;
    if (bytes.size() != n / 2) abort();
    static constexpr char kHex[] = "0123456789abcdef";
    bool lowercaseHex = true;
    for (size_t i = 0; i < 2 * bytes.size(); ++i) lowercaseHex = lowercaseHex && std::strchr(kHex, text[i]);
    if (lowercaseHex) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (kHex[bytes[i] >> 4] != text[2 * i] || kHex[bytes[i] & 15] != text[2 * i + 1]) abort();
        }
    }
    return 0;
}
