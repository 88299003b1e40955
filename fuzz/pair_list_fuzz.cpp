// Fuzzes message parsing: any bytes must give a list of unique, trimmed, non-empty keys and values,
// and writing that list back as a message must parse to the same list.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/ss_pair.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);  // parsed up to its first NUL
    SS_PairList list;
    stringToPairList(text.c_str(), list);
    std::string rebuilt;
    for (size_t i = 0; i < list.size(); ++i) {
        const SS_Pair& pair = list[i];
        if (pair.key.empty() || pair.value.empty()) abort();
        if (isBlankChar(pair.key.front()) || isBlankChar(pair.key.back())) abort();
        if (isBlankChar(pair.value.front()) || isBlankChar(pair.value.back())) abort();
        if (pair.key.find_first_of(":\r\n") != std::string::npos) abort();
        if (pair.value.find_first_of("\r\n") != std::string::npos) abort();
        for (size_t j = 0; j < i; ++j) {
            if (list[j].key == pair.key) abort();
        }
        appendFormat(rebuilt, "%s: %s\r\n", pair.key.c_str(), pair.value.c_str());
    }
    SS_PairList again;
    stringToPairList(rebuilt.c_str(), again);
    if (again.size() != list.size()) abort();
    for (size_t i = 0; i < list.size(); ++i) {
        if (again[i].key != list[i].key || again[i].value != list[i].value) abort();
    }
    // The readers on whatever came out.
    int number = 0, tcp = 0;
    std::optional<std::string> value;
    if (!list.empty()) {
        pairListGetString(&list, list.front().key.c_str(), value);
        pairListGetInt(list.back().key.c_str(), number, &list);
    }
    getTcpSupport(tcp, &list);
    if (tcp != 0 && tcp != 1) abort();
    if (!list.empty() && value.has_value() != (isValidText(list.front().value.c_str()) == 1)) abort();
    return 0;
}
