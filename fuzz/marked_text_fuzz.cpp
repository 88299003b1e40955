// Fuzzes decodeMarkedText on any text, and checks that the sender's encoding of any text decodes back
// to it (up to its first NUL) in both forms.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/marked_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    int kind = -1;
    const std::optional<std::string> decoded = decodeMarkedText(text.c_str(), kind);
    if (kind < MARKED_TEXT_NONE || kind > MARKED_TEXT_XOR) abort();
    if (decoded && kind == MARKED_TEXT_NONE) abort();
    if (decoded && decoded->find('\0') != std::string::npos) abort();
    // A decoded text is never longer than its payload (rounded up to whole blocks for DES).
    if (decoded && decoded->size() > text.size()) abort();

    const std::string plain = text.substr(0, text.find('\0'));
    for (int form : {MARKED_TEXT_XOR, MARKED_TEXT_DES}) {
        if (form == MARKED_TEXT_DES && plain.size() > kMaxDesPayload) continue;
        const std::string encoded = encodeMarkedText(plain, form);
        int back = 0;
        const std::optional<std::string> round = decodeMarkedText(encoded.c_str(), back);
        if (back != form) abort();
        if (form == MARKED_TEXT_XOR && plain.empty()) {
            if (round) abort();  // an empty XOR payload gives no result
        } else if (!round || *round != plain) {
            abort();
        }
    }
    return 0;
}
