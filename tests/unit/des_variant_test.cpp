// test-labels: threads
// DES variant: the shared tables checked as standard DES against FIPS 46-3 known answers, the variant
// proved by round trips with the sender's procedure, and the buffer rules of desDecrypt and
// desDecryptBuffer.
#include "protocol/des_variant.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace {

using des_internal::Mode;
using Block = std::array<uint8_t, 8>;

Block blockOf(uint64_t bigEndian) {
    Block block;
    for (int i = 0; i < 8; ++i) block[i] = uint8_t(bigEndian >> (8 * (7 - i)));
    return block;
}

Block crypt(const Block& key, Mode mode, bool decrypt, const Block& input) {
    Block output;
    des_internal::cryptBlocks(key, mode, decrypt, input.data(), 1, output.data());
    return output;
}

std::vector<uint8_t> randomBytes(size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::vector<uint8_t> bytes(count);
    for (uint8_t& byte : bytes) byte = uint8_t(generator());
    return bytes;
}

TEST(DesVariant, StandardModeGivesFipsKnownAnswers) {
    const struct {
        uint64_t key, plain, cipher;
    } cases[] = {
        {0x133457799BBCDFF1, 0x0123456789ABCDEF, 0x85E813540F0AB405},
        {0x0E329232EA6D0D73, 0x8787878787878787, 0x0000000000000000},
    };
    for (const auto& c : cases) {
        const Block key = blockOf(c.key);
        EXPECT_EQ(crypt(key, Mode::Standard, false, blockOf(c.plain)), blockOf(c.cipher))
            << std::hex << c.key;
        EXPECT_EQ(crypt(key, Mode::Standard, true, blockOf(c.cipher)), blockOf(c.plain)) << std::hex << c.key;
    }
}

TEST(DesVariant, DecryptInvertsTheSendersEncryption) {
    for (unsigned seed = 1; seed <= 50; ++seed) {
        const std::vector<uint8_t> plain = randomBytes(8 * (1 + seed % 5), seed);
        std::vector<uint8_t> cipher(plain.size()), back(plain.size());
        ASSERT_EQ(desEncrypt(plain.data(), int(plain.size()), cipher.data()), 1);
        EXPECT_NE(cipher, plain);
        ASSERT_EQ(desDecrypt(cipher.data(), int(cipher.size()), back.data()), 1);
        EXPECT_EQ(back, plain) << "seed " << seed;
    }
}

TEST(DesVariant, DiffersFromStandardDesOnTheSameKeyAndBlock) {
    const Block plain = blockOf(0x0123456789ABCDEF);
    const Block standard = crypt(kDesCipherKey, Mode::Standard, false, plain);
    Block variant;
    desEncrypt(plain.data(), 8, variant.data());
    EXPECT_NE(variant, standard);
    // A block made by standard DES does not decrypt to the plain block with the variant.
    Block decrypted;
    desDecrypt(standard.data(), 8, decrypted.data());
    EXPECT_NE(decrypted, plain);
    // The variant is still a proper cipher with this key: its decryption of its own block works.
    desDecrypt(variant.data(), 8, decrypted.data());
    EXPECT_EQ(decrypted, plain);
}

TEST(DesVariant, PinnedVariantBlocks) {
    // Blocks made by this cipher with the fixed key: files and devices made earlier keep decrypting.
    const std::string plain = "0123456789ABCDEFAction: StartUploadServiceOK\r\n\r\n";
    std::vector<uint8_t> block(56, 0);
    std::copy(plain.begin(), plain.end(), block.begin());
    desEncrypt(block.data(), 56, block.data());
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : block) hex += std::string{kHex[b >> 4], kHex[b & 15]};
    EXPECT_EQ(
        hex,
        "8dcff6ff9337e76e147a27fbface3416f8ed0094826fbf3aae8abf9843b3b99a7366a2bbeaaf0c0ad83279be841908a1"
        "5e006d93ab3ca0db");
    // The variant under the FIPS example key, on the ASCII block "01234567".
    EXPECT_EQ(crypt(blockOf(0x133457799BBCDFF1), Mode::Variant, false, blockOf(0x3031323334353637)),
              blockOf(0x13dec19a1687afa3));
}

TEST(DesVariant, EcbBlocksAreIndependentAndInPlaceWorks) {
    // Two equal plain blocks give two equal cipher blocks (no chaining).
    std::vector<uint8_t> data(16, 'x');
    ASSERT_EQ(desEncrypt(data.data(), 16, data.data()), 1);
    EXPECT_EQ(std::memcmp(data.data(), data.data() + 8, 8), 0);
    std::vector<uint8_t> copy = data, separate(16);
    desDecrypt(copy.data(), 16, separate.data());
    desDecrypt(data.data(), 16, data.data());
    EXPECT_EQ(data, separate);
    EXPECT_EQ(data, std::vector<uint8_t>(16, 'x'));
}

TEST(DesVariant, DecryptRefusesMissingBuffersAndEmptyLengths) {
    uint8_t buffer[8] = {};
    EXPECT_EQ(desDecrypt(nullptr, 8, buffer), 0);
    EXPECT_EQ(desDecrypt(buffer, 8, nullptr), 0);
    EXPECT_EQ(desDecrypt(buffer, 0, buffer), 0);
    EXPECT_EQ(desDecrypt(buffer, -7, buffer), 0);
    EXPECT_EQ(desDecrypt(buffer, -100000, buffer), 0);
    // A length that is not a multiple of 8 is rounded up to whole blocks.
    std::vector<uint8_t> plain = randomBytes(16, 7), cipher(16), back(16);
    desEncrypt(plain.data(), 16, cipher.data());
    EXPECT_EQ(desDecrypt(cipher.data(), 9, back.data()), 1);
    EXPECT_EQ(back, plain);
}

TEST(DesVariant, DecryptBufferTouchesOnlyWholeBlocks) {
    const struct {
        int length;
        int decrypted;
    } cases[] = {{1023, 1016}, {1024, 1024}, {7, 0}, {8, 8}, {0, 0}, {-1, 0}};
    for (const auto& c : cases) {
        const size_t size = size_t(std::max(c.length, 0));
        const std::vector<uint8_t> plain = randomBytes(size, unsigned(size) + 3);
        std::vector<uint8_t> buffer(size);
        // Whole blocks enciphered by the sender; the tail stays plain.
        if (c.decrypted > 0) desEncrypt(plain.data(), c.decrypted, buffer.data());
        std::copy(plain.begin() + c.decrypted, plain.end(), buffer.begin() + c.decrypted);
        desDecryptBuffer(c.length, buffer.data());
        EXPECT_EQ(buffer, plain) << "length " << c.length;
    }
    desDecryptBuffer(16, static_cast<uint8_t*>(nullptr));  // nothing happens
}

TEST(DesVariant, DecryptBufferLengthIsSixteenBits) {
    // 70000 AND 0xFFF8 = 4464: only that many bytes are deciphered, never more than the length.
    const int length = 70000;
    const int whole = length & 0xFFF8;
    ASSERT_EQ(whole, 4464);
    std::vector<uint8_t> buffer = randomBytes(length, 11);
    const std::vector<uint8_t> before = buffer;
    desDecryptBuffer(length, buffer.data());
    EXPECT_TRUE(std::equal(buffer.begin() + whole, buffer.end(), before.begin() + whole));
    std::vector<uint8_t> expected(before.begin(), before.begin() + whole);
    desDecrypt(expected.data(), whole, expected.data());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
}

TEST(DesVariant, ConcurrentCallsDoNotShareState) {
    const std::vector<uint8_t> plain = randomBytes(1024, 5);
    std::vector<uint8_t> cipher(1024);
    desEncrypt(plain.data(), 1024, cipher.data());
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                std::vector<uint8_t> work = cipher;
                desDecryptBuffer(1024, work.data());
                if (work != plain) ++failures[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
