// Auth token, marked texts and the hex decoding they share.
#include "protocol/marked_text.h"

#include <algorithm>
#include <cstring>

#include "protocol/des_variant.h"
#include "protocol/md5.h"
#include "protocol/ss_pair.h"

std::optional<std::string> makeAuthToken(const char* account) {
    if (!isValidText(account)) return std::nullopt;
    Md5Context context;
    md5Init(context);
    md5Update(context, kAuthSalt1, sizeof kAuthSalt1 - 1);
    md5Update(context, kAuthSalt2, sizeof kAuthSalt2 - 1);
    md5Update(context, kAuthActionName, sizeof kAuthActionName - 1);
    md5Update(context, account, std::strlen(account));
    Md5Digest digest;
    md5Final(context, digest);
    return std::string(kDesMarker) + md5ToHex(digest);
}

namespace {

uint8_t hexValue(char x) {
    const auto c = static_cast<unsigned char>(x);
    if (c >= '0' && c <= '9') return uint8_t(c - '0');
    if (c >= 'a' && c <= 'f') return uint8_t(c - 'a' + 10);
    return uint8_t(c - 'A' + 10);  // 'A'-'F' decode right; anything else gives what the rule gives
}

}  // namespace

std::vector<uint8_t> hexToBytes(const char* text) {
    std::vector<uint8_t> bytes;
    if (text == nullptr) return bytes;
    size_t n = std::strlen(text);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n')) --n;
    const size_t count = n / 2;
    bytes.resize(count);
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = uint8_t((hexValue(text[2 * i]) << 4) | hexValue(text[2 * i + 1]));
    }
    return bytes;
}

std::optional<std::string> decodeMarkedText(const char* text, int& kind) {
    kind = MARKED_TEXT_NONE;
    if (!isValidText(text)) return std::nullopt;
    // strncmp stops at the text's end, so a text shorter than the marker never matches.
    if (std::strncmp(text, kXorMarker, kMarkerLength) == 0) {
        kind = MARKED_TEXT_XOR;
        std::vector<uint8_t> bytes = hexToBytes(text + kMarkerLength);
        if (bytes.empty()) return std::nullopt;
        std::string plain;
        plain.reserve(bytes.size());
        for (uint8_t byte : bytes) {
            const char c = char(byte ^ kXorConstant);
            if (c == '\0') break;
            plain.push_back(c);
        }
        return plain;
    }
    if (std::strncmp(text, kDesMarker, kMarkerLength) == 0) {
        kind = MARKED_TEXT_DES;
        std::vector<uint8_t> bytes = hexToBytes(text + kMarkerLength);
        // The rounded length is a 16-bit quantity: a longer payload would wrap it, so it is refused.
        if (bytes.size() > kMaxDesPayload) return std::nullopt;
        const size_t rounded = (bytes.size() + 7) & 0xFFF8;
        std::vector<uint8_t> work(rounded + 1, 0);
        std::copy(bytes.begin(), bytes.end(),
                  work.begin());  // (memcpy from an empty vector's null data is UB)
        if (rounded > 0) desDecrypt(work.data(), int(rounded), work.data());
        return std::string(reinterpret_cast<const char*>(work.data()));  // work[rounded] is always NUL
    }
    return std::nullopt;
}

std::string encodeMarkedText(std::string_view plain, int kind) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::vector<uint8_t> payload(plain.begin(), plain.end());
    std::string text;
    if (kind == MARKED_TEXT_XOR) {
        for (uint8_t& byte : payload) byte ^= kXorConstant;
        text = kXorMarker;
    } else if (kind == MARKED_TEXT_DES) {
        payload.resize((payload.size() + 7) / 8 * 8, 0);
        if (!payload.empty()) desEncrypt(payload.data(), int(payload.size()), payload.data());
        text = kDesMarker;
    } else {
        return std::string(plain);
    }
    text.reserve(text.size() + 2 * payload.size());
    for (uint8_t byte : payload) {
        text.push_back(kHex[byte >> 4]);
        text.push_back(kHex[byte & 0x0f]);
    }
    return text;
}
