// The block cipher of the device protocol: a DES variant with a fixed 8-byte key.
// It uses the FIPS 46-3 tables unchanged but reads bits least-significant first, writes each S-box
// output least-significant bit first and does not swap the halves after the last round, so a
// standard DES implementation can neither read nor produce its blocks.
// Decryption deciphers marked answers and the first kilobyte of packages and received files; the
// sender's encryption is here for the simulated site and the tests. Every call derives its own
// subkeys and bit arrays: calls may run on any thread at the same time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The fixed cipher key.
inline constexpr std::array<uint8_t, 8> kDesCipherKey = {0x5e, 0x2a, 0x91, 0xc4, 0x0d, 0x77, 0xb3, 0x18};

// Decrypts (length + 7) / 8 blocks of 8 bytes from input to output (ECB, in place allowed).
// The caller provides whole blocks: both buffers hold at least ((length + 7) / 8) * 8 bytes.
// Returns 1, or 0 when input or output is null or the rounded length is 0 (or negative).
int desDecrypt(const uint8_t* input, int length, uint8_t* output);

// Decrypts in place the whole blocks at the start of the buffer: m = length AND 0xFFF8 bytes (the
// length is a 16-bit quantity); the remaining length - m bytes stay as they are. A null buffer or a
// negative length changes nothing. The buffer holds at least `length` bytes.
void desDecryptBuffer(int length, uint8_t* buffer);
inline void desDecryptBuffer(int length, char* buffer) {
    desDecryptBuffer(length, reinterpret_cast<uint8_t*>(buffer));
}

// The sender's procedure that desDecrypt inverts; same block and buffer rules as desDecrypt.
int desEncrypt(const uint8_t* input, int length, uint8_t* output);

// The table code behind both directions, also runnable as standard FIPS 46-3 DES (bit order from the
// most significant bit, S-box output most significant bit first, halves swapped after the last
// round) so that the shared tables can be checked against the standard's known answers.
namespace des_internal {
enum class Mode { Variant, Standard };
// Processes `blocks` blocks of 8 bytes from input to output (in place allowed) with the given key.
void cryptBlocks(const std::array<uint8_t, 8>& key, Mode mode, bool decrypt, const uint8_t* input,
                 size_t blocks, uint8_t* output);
}  // namespace des_internal
