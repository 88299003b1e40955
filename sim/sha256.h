// SHA-256 (FIPS 180-4) with a streaming context, for the simulated site's record of received files
// (tests compare it with the digest of the file they sent). Contexts are plain values; no shared state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct Sha256Context {
    uint32_t state[8];
    uint64_t length;    // bytes fed so far
    uint8_t block[64];  // a partly filled block
    size_t used;        // bytes in `block`
};

void sha256Init(Sha256Context& context);
void sha256Update(Sha256Context& context, const void* data, size_t length);
// The 32-byte digest; the context must be initialised again before reuse.
std::array<uint8_t, 32> sha256Final(Sha256Context& context);
// 64 lowercase hex characters.
std::string sha256Hex(const std::array<uint8_t, 32>& digest);
// One-shot lowercase hex digest of a byte run.
std::string sha256Of(std::string_view bytes);
