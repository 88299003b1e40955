// The DES variant: FIPS 46-3 tables (1-based bit positions), bit arrays per call, no shared state.
#include "protocol/des_variant.h"

#include <utility>

namespace des_internal {
namespace {

constexpr uint8_t kIp[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                             62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                             57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                             61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

constexpr uint8_t kIpInverse[64] = {40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
                                    38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
                                    36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
                                    34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};

constexpr uint8_t kExpansion[48] = {32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
                                    12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
                                    22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};

constexpr uint8_t kPermutation[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                                      2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr uint8_t kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
                              35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
                              46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr uint8_t kPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                              26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                              51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr uint8_t kSBox[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11}};

// Bit arrays are packed into one integer: array position i (0-based; table entry t selects position
// t - 1) is bit i of the integer. All of them live on the caller's stack.
using Subkeys = uint64_t[16];

uint64_t permute(uint64_t in, const uint8_t* table, int count) {
    uint64_t out = 0;
    for (int i = 0; i < count; ++i) out |= ((in >> (table[i] - 1)) & 1) << i;
    return out;
}

uint8_t reverseBits8(uint8_t v) {
    v = uint8_t((v & 0xF0) >> 4 | (v & 0x0F) << 4);
    v = uint8_t((v & 0xCC) >> 2 | (v & 0x33) << 2);
    return uint8_t((v & 0xAA) >> 1 | (v & 0x55) << 1);
}

// Bytes to positions 0..63: the variant numbers the bits of each byte from the least significant
// (position 8k + j = bit j of byte k), FIPS from the most significant.
uint64_t bytesToBits(const uint8_t* bytes, Mode mode) {
    uint64_t bits = 0;
    for (int k = 0; k < 8; ++k) {
        const uint8_t byte = mode == Mode::Variant ? bytes[k] : reverseBits8(bytes[k]);
        bits |= uint64_t(byte) << (8 * k);
    }
    return bits;
}

void bitsToBytes(uint64_t bits, Mode mode, uint8_t* bytes) {
    for (int k = 0; k < 8; ++k) {
        const uint8_t byte = uint8_t(bits >> (8 * k));
        bytes[k] = mode == Mode::Variant ? byte : reverseBits8(byte);
    }
}

void makeSubkeys(const std::array<uint8_t, 8>& key, Mode mode, Subkeys subkeys) {
    constexpr uint64_t kMask28 = (uint64_t(1) << 28) - 1;
    const uint64_t cd = permute(bytesToBits(key.data(), mode), kPc1, 56);
    uint64_t c = cd & kMask28, d = cd >> 28;
    for (int round = 0; round < 16; ++round) {
        // A left rotation of the array moves every position down by the shift.
        const int s = kShifts[round];
        c = ((c >> s) | (c << (28 - s))) & kMask28;
        d = ((d >> s) | (d << (28 - s))) & kMask28;
        subkeys[round] = permute(c | d << 28, kPc2, 48);
    }
}

// f(R, K) = P(S(E(R) xor K)); the variant writes each S-box value least significant bit first.
uint64_t roundFunction(uint64_t r, uint64_t k, Mode mode) {
    const uint64_t x = permute(r, kExpansion, 48) ^ k;
    uint64_t s = 0;
    for (int box = 0; box < 8; ++box) {
        const unsigned g = unsigned(x >> (6 * box)) & 0x3F;  // x0 is bit 0 of g, x5 bit 5
        const int row = 2 * (g & 1) + ((g >> 5) & 1);
        const int column = 8 * ((g >> 1) & 1) + 4 * ((g >> 2) & 1) + 2 * ((g >> 3) & 1) + ((g >> 4) & 1);
        const uint8_t v = kSBox[box][16 * row + column];
        const uint8_t written = mode == Mode::Variant ? v : uint8_t(reverseBits8(v) >> 4);
        s |= uint64_t(written) << (4 * box);
    }
    return permute(s, kPermutation, 32);
}

void cryptBlock(const Subkeys subkeys, Mode mode, bool decrypt, const uint8_t* input, uint8_t* output) {
    constexpr uint64_t kMask32 = 0xFFFFFFFF;
    const uint64_t m = permute(bytesToBits(input, mode), kIp, 64);
    uint64_t left = m & kMask32, right = m >> 32;
    // FIPS swaps the halves after the last round, so its decryption starts from swapped halves.
    if (mode == Mode::Standard && decrypt) std::swap(left, right);
    if (!decrypt) {
        for (int round = 0; round < 16; ++round) {
            const uint64_t t = right;
            right = roundFunction(right, subkeys[round], mode) ^ left;
            left = t;
        }
        if (mode == Mode::Standard) std::swap(left, right);
    } else {
        for (int round = 15; round >= 0; --round) {
            const uint64_t t = left;
            left = roundFunction(left, subkeys[round], mode) ^ right;
            right = t;
        }
    }
    bitsToBytes(permute(left | right << 32, kIpInverse, 64), mode, output);
}

}  // namespace

void cryptBlocks(const std::array<uint8_t, 8>& key, Mode mode, bool decrypt, const uint8_t* input,
                 size_t blocks, uint8_t* output) {
    Subkeys subkeys;
    makeSubkeys(key, mode, subkeys);
    for (size_t k = 0; k < blocks; ++k) cryptBlock(subkeys, mode, decrypt, input + 8 * k, output + 8 * k);
}

}  // namespace des_internal

namespace {

int runVariant(bool decrypt, const uint8_t* input, int length, uint8_t* output) {
    if (input == nullptr || output == nullptr || length <= 0) return 0;
    const size_t blocks = (size_t(length) + 7) / 8;
    des_internal::cryptBlocks(kDesCipherKey, des_internal::Mode::Variant, decrypt, input, blocks, output);
    return 1;
}

}  // namespace

int desDecrypt(const uint8_t* input, int length, uint8_t* output) {
    return runVariant(true, input, length, output);
}

int desEncrypt(const uint8_t* input, int length, uint8_t* output) {
    return runVariant(false, input, length, output);
}

void desDecryptBuffer(int length, uint8_t* buffer) {
    if (buffer == nullptr || length < 0) return;
    const int whole = length & 0xFFF8;
    if (whole > 0) desDecrypt(buffer, whole, buffer);
}
