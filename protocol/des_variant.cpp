// The DES variant: FIPS 46-3 tables (1-based bit positions), bit arrays per call, no shared state.
#include "protocol/des_variant.h"

#include <cstring>

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

constexpr uint8_t kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                              10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                              63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                              14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr uint8_t kPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                              26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                              51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr uint8_t kSBox[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  0, 15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5,  3,  8,  4,  1,  14, 8,  13, 6, 2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2,  4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10, 3,  13, 4,  7,  15, 2,
     8,  14, 12, 0,  1,  10, 6,  9,  11, 5, 0,  14, 7,  11, 10, 4,  13, 1,  5,  8,  12, 6,
     9,  3,  2,  15, 13, 8,  10, 1,  3,  15, 4,  2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6,  3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,  13, 7,  0,  9,  3,  4,
     6,  10, 2,  8,  5,  14, 12, 11, 15, 1,  13, 6,  4,  9,  8,  15, 3,  0,  11, 1,  2,  12,
     5,  10, 14, 7,  1,  10, 13, 0,  6,  9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3,  0,  6,  9,  10, 1,  2, 8,  5,  11, 12, 4,  15, 13, 8,  11, 5,  6,  15,
     0,  3,  4,  7,  2,  12, 1,  10, 14, 9, 10, 6,  9,  0,  12, 11, 7,  13, 15, 1,  3,  14,
     5,  2,  8,  4,  3,  15, 0,  6,  10, 1, 13, 8,  9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0, 14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5,  0,  15, 10, 3,  9,  8,  6,  4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0,  14, 11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11, 10, 15, 4,  2,  7,  12,
     9,  5,  6,  1,  13, 14, 0,  11, 3,  8,  9,  14, 15, 5,  2,  8,  12, 3,  7,  0,  4,  10,
     1,  13, 11, 6,  4,  3,  2,  12, 9,  5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0,  8,  13, 3,  12, 9,  7,  5,  10, 6,  1,  13, 0,  11, 7,  4,  9,
     1,  10, 14, 3,  5,  12, 2,  15, 8,  6,  1,  4,  11, 13, 12, 3,  7,  14, 10, 15, 6,  8,
     0,  5,  9,  2,  6,  11, 13, 8,  1,  4,  10, 7,  9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2,  8,  4,  6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,  1,  15, 13, 8,  10, 3,
     7,  4,  12, 5,  6,  11, 0,  14, 9,  2,  7,  11, 4,  1,  9,  12, 14, 2,  0,  6,  10, 13,
     15, 3,  5,  8,  2,  1,  14, 7,  4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11}};

using Subkeys = uint8_t[16][48];

// Bytes to bits: the variant numbers bits from the least significant of each byte, FIPS from the most.
void bytesToBits(const uint8_t* bytes, Mode mode, uint8_t bits[64]) {
    for (int k = 0; k < 8; ++k) {
        for (int j = 0; j < 8; ++j) {
            const int shift = mode == Mode::Variant ? j : 7 - j;
            bits[8 * k + j] = (bytes[k] >> shift) & 1;
        }
    }
}

void bitsToBytes(const uint8_t bits[64], Mode mode, uint8_t* bytes) {
    for (int k = 0; k < 8; ++k) {
        uint8_t value = 0;
        for (int j = 0; j < 8; ++j) {
            const int shift = mode == Mode::Variant ? j : 7 - j;
            value |= uint8_t(bits[8 * k + j] << shift);
        }
        bytes[k] = value;
    }
}

void makeSubkeys(const std::array<uint8_t, 8>& key, Mode mode, Subkeys subkeys) {
    uint8_t keyBits[64];
    bytesToBits(key.data(), mode, keyBits);
    uint8_t cd[56];
    for (int i = 0; i < 56; ++i) cd[i] = keyBits[kPc1[i] - 1];
    for (int round = 0; round < 16; ++round) {
        for (int s = 0; s < kShifts[round]; ++s) {
            const uint8_t c0 = cd[0], d0 = cd[28];
            std::memmove(cd, cd + 1, 27);
            cd[27] = c0;
            std::memmove(cd + 28, cd + 29, 27);
            cd[55] = d0;
        }
        for (int i = 0; i < 48; ++i) subkeys[round][i] = cd[kPc2[i] - 1];
    }
}

// f(R, K) = P(S(E(R) xor K)); the variant writes each S-box value least significant bit first.
void roundFunction(const uint8_t r[32], const uint8_t k[48], Mode mode, uint8_t out[32]) {
    uint8_t x[48];
    for (int i = 0; i < 48; ++i) x[i] = r[kExpansion[i] - 1] ^ k[i];
    uint8_t s[32];
    for (int box = 0; box < 8; ++box) {
        const uint8_t* g = x + 6 * box;
        const int row = 2 * g[0] + g[5];
        const int column = 8 * g[1] + 4 * g[2] + 2 * g[3] + g[4];
        const uint8_t v = kSBox[box][16 * row + column];
        for (int b = 0; b < 4; ++b) s[4 * box + b] = mode == Mode::Variant ? (v >> b) & 1 : (v >> (3 - b)) & 1;
    }
    for (int i = 0; i < 32; ++i) out[i] = s[kPermutation[i] - 1];
}

void cryptBlock(const Subkeys subkeys, Mode mode, bool decrypt, const uint8_t* input, uint8_t* output) {
    uint8_t bits[64];
    bytesToBits(input, mode, bits);
    uint8_t m[64];
    for (int i = 0; i < 64; ++i) m[i] = bits[kIp[i] - 1];
    uint8_t left[32], right[32], f[32], t[32];
    // FIPS swaps the halves after the last round, so its decryption starts from swapped halves.
    const bool swapped = mode == Mode::Standard && decrypt;
    std::memcpy(left, swapped ? m + 32 : m, 32);
    std::memcpy(right, swapped ? m : m + 32, 32);
    if (!decrypt) {
        for (int round = 0; round < 16; ++round) {
            std::memcpy(t, right, 32);
            roundFunction(right, subkeys[round], mode, f);
            for (int i = 0; i < 32; ++i) right[i] = f[i] ^ left[i];
            std::memcpy(left, t, 32);
        }
    } else {
        for (int round = 15; round >= 0; --round) {
            std::memcpy(t, left, 32);
            roundFunction(left, subkeys[round], mode, f);
            for (int i = 0; i < 32; ++i) left[i] = f[i] ^ right[i];
            std::memcpy(right, t, 32);
        }
    }
    const bool swapOut = mode == Mode::Standard && !decrypt;
    std::memcpy(m, swapOut ? right : left, 32);
    std::memcpy(m + 32, swapOut ? left : right, 32);
    for (int i = 0; i < 64; ++i) bits[i] = m[kIpInverse[i] - 1];
    bitsToBytes(bits, mode, output);
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

int desDecrypt(const uint8_t* input, int length, uint8_t* output) { return runVariant(true, input, length, output); }

int desEncrypt(const uint8_t* input, int length, uint8_t* output) { return runVariant(false, input, length, output); }

void desDecryptBuffer(int length, uint8_t* buffer) {
    if (buffer == nullptr || length < 0) return;
    const int whole = length & 0xFFF8;
    if (whole > 0) desDecrypt(buffer, whole, buffer);
}
