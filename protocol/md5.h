// MD5 message digest (RFC 1321) with a streaming context, and its lowercase hex form.
// Used by the auth token and by the package check, which streams a whole file through one context.
// Contexts are plain values owned by the caller; nothing is shared between calls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using Md5Digest = std::array<uint8_t, 16>;

struct Md5Context {
    uint32_t state[4];
    uint64_t bitCount;   // message length in bits so far
    uint8_t buffer[64];  // a partly filled block
};

void md5Init(Md5Context& context);
// Feeds `length` bytes; data may be null only when length is 0.
void md5Update(Md5Context& context, const void* data, size_t length);
// Pads, writes the digest and wipes the context (md5Init before reusing it).
void md5Final(Md5Context& context, Md5Digest& digest);

// 32 lowercase hex characters, high nibble first.
std::string md5ToHex(const Md5Digest& digest);

// One-shot digest of a byte run.
Md5Digest md5Of(std::string_view bytes);
