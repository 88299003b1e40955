// Pair lists, message parsing, the text helpers of the protocol, and the request-and-wait exchange.
#include "protocol/ss_pair.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "protocol/marked_text.h"
#include "ss/ss_platform.h"
#include "ss/ss_socket.h"

int isValidText(const char* text) {
    if (text == nullptr || text[0] == '\0') return 0;
    if (std::strcmp(text, "(null)") == 0 || std::strcmp(text, "NULL") == 0) return 0;
    return 1;
}

bool isBlankChar(char c) {
    return (c >= 9 && c <= 13) || c == ' ';
}

void trimString(std::string& text) {
    size_t end = text.size();
    while (end > 0 && isBlankChar(text[end - 1])) --end;
    size_t begin = 0;
    while (begin < end && isBlankChar(text[begin])) ++begin;
    text = text.substr(begin, end - begin);
}

std::optional<std::string> dupStringN(const char* text, int n) {
    if (text == nullptr || n <= 0) return std::nullopt;
    return std::string(text, strnlen(text, size_t(n)));
}

void splitKeyValue(std::string_view line, std::optional<std::string>& key,
                   std::optional<std::string>& value) {
    key.reset();
    value.reset();
    const size_t colon = line.find(':');
    std::string keyText(line.substr(0, colon));
    trimString(keyText);
    if (!keyText.empty()) key = std::move(keyText);
    if (colon == std::string_view::npos) return;
    std::string valueText(line.substr(colon + 1));
    trimString(valueText);
    if (!valueText.empty()) value = std::move(valueText);
}

namespace {

struct ParsedLine {
    std::optional<std::string> key;
    std::optional<std::string> value;
};

// Lines end at CR or LF (any run of them); empty lines vanish.
std::vector<ParsedLine> splitLines(const char* text) {
    std::vector<ParsedLine> lines;
    const char* p = text;
    while (*p != '\0') {
        const size_t length = std::strcspn(p, "\r\n");
        if (length > 0) {
            std::string line(p, length);
            trimString(line);
            ParsedLine parsed;
            splitKeyValue(line, parsed.key, parsed.value);
            lines.push_back(std::move(parsed));
        }
        p += length;
        while (*p == '\r' || *p == '\n') ++p;
    }
    return lines;
}

}  // namespace

int stringToPairList(const char* text, SS_PairList& list) {
    if (text == nullptr || text[0] == '\0') return 0;
    for (const ParsedLine& line : splitLines(text)) {
        if (!line.key) continue;
        pairListSet(line.key->c_str(), list, line.value ? line.value->c_str() : nullptr);
    }
    return 0;
}

int pairListSet(const char* key, SS_PairList& list, const char* value) {
    if (key == nullptr) return -1;
    if (value == nullptr) return pairListRemove(list, key);
    if (key[0] == '\0') return 0;
    for (SS_Pair& pair : list) {
        if (pair.key == key) {
            pair.value = value;
            return 0;
        }
    }
    list.push_back(SS_Pair{key, value});
    return 0;
}

int pairListRemove(SS_PairList& list, const char* key) {
    if (key == nullptr) return -1;
    std::erase_if(list, [key](const SS_Pair& pair) { return pair.key == key; });
    return 0;
}

int pairListGetString(const SS_PairList* list, const char* key, std::optional<std::string>& out) {
    out.reset();
    if (list == nullptr || key == nullptr) return 0;
    for (const SS_Pair& pair : *list) {
        if (pair.key == key) {
            if (isValidText(pair.value.c_str())) out = pair.value;
            break;
        }
    }
    return 0;
}

int pairListGetInt(const char* key, int& out, const SS_PairList* list) {
    std::optional<std::string> text;
    pairListGetString(list, key, text);
    if (!text) {
        out = -1;
        return 0;
    }
    // Sign and digits, stopping at the first other character; saturated instead of overflowing.
    const char* p = text->c_str();
    while (isBlankChar(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    out = int(std::clamp<long long>(value, INT_MIN, INT_MAX));
    return 0;
}

int pairListGetBool(const char* text) {
    if (text == nullptr) return 0;
    while (isBlankChar(*text)) ++text;
    switch (*text) {
        case 'Y':
        case 'y':
        case 'T':
        case 't':
        case '1':
            return 1;
        default:
            return 0;
    }
}

int getTcpSupport(int& out, const SS_PairList* list) {
    std::optional<std::string> text;
    pairListGetString(list, "TcpSupport", text);
    out = text ? pairListGetBool(text->c_str()) : 0;
    return 0;
}

std::vector<std::string> splitString(const char* text, const char* delimiters) {
    std::vector<std::string> pieces;
    if (text == nullptr) return pieces;
    if (delimiters == nullptr) delimiters = "";
    const char* p = text;
    while (*p != '\0') {
        p += std::strspn(p, delimiters);
        const size_t length = std::strcspn(p, delimiters);
        if (length > 0) pieces.emplace_back(p, length);
        p += length;
    }
    return pieces;
}

namespace {

std::string formatArguments(const char* format, va_list arguments) {
    if (format == nullptr) return {};
    va_list copy;
    va_copy(copy, arguments);
    char small[256];
    const int length = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (length < 0) return {};
    if (size_t(length) < sizeof small) return std::string(small, size_t(length));
    std::string text(size_t(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, arguments);
    text.resize(size_t(length));
    return text;
}

}  // namespace

std::string formatString(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string text = formatArguments(format, arguments);
    va_end(arguments);
    return text;
}

void appendFormat(std::string& text, const char* format, ...) {
    if (format == nullptr) return;
    if (std::strchr(format, '%') == nullptr) {
        text += format;
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    text += formatArguments(format, arguments);
    va_end(arguments);
}

namespace {

constexpr int kRequestRounds = 2;
constexpr int kPollsPerRound = 2;
constexpr int kPauseMs = 200;

}  // namespace

int _requestAction(SS_Socket* socket, const SS_Socket* destination, const char* request, const char* answer,
                   std::string& answerText) {
    const std::string requestText = formatString("%s: %s\r\n\r\n", "Action", request ? request : "(null)");
    const std::string expected = formatString("%s: %s", "Action", answer ? answer : "(null)");
    for (int round = 0; round < kRequestRounds; ++round) {
        if (destination != nullptr && isValidText(request)) {
            // Sent from the receiving socket's own descriptor, so the answer comes back to it.
            SS_Socket_send_plain(&destination->address, requestText.c_str(), socket);
        }
        ss_platform_sleepMs(kPauseMs);
        for (int poll = 0; poll < kPollsPerRound; ++poll) {
            std::optional<std::string> text;
            if (socket != nullptr) SS_Socket_receive_plain(socket, text);
            if (!text || text->empty()) {
                ss_platform_sleepMs(kPauseMs);
                continue;
            }
            int kind = 0;
            if (std::optional<std::string> decoded = decodeMarkedText(text->c_str(), kind))
                text = std::move(decoded);
            if (text->compare(0, expected.size(), expected) == 0) {
                answerText = std::move(*text);
                return 0;
            }
        }
    }
    return -1;
}
