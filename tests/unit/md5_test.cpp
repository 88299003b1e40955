// MD5: the RFC 1321 test suite, padding boundaries and streaming in pieces of every size.
#include "protocol/md5.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string hexOf(std::string_view bytes) {
    return md5ToHex(md5Of(bytes));
}

TEST(Md5, Rfc1321TestSuite) {
    const struct {
        const char* input;
        const char* digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) EXPECT_EQ(hexOf(c.input), c.digest) << "input \"" << c.input << "\"";
}

TEST(Md5, PaddingBoundaries) {
    // Lengths around the 56-byte point where the bit count no longer fits in the last block.
    const struct {
        size_t length;
        const char* digest;
    } cases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
        {63, "b06521f39153d618550606be297466d5"},  {64, "014842d480b571495a4a0363793f7367"},
        {65, "c743a45e0d2e6a95cb859adae0248435"},  {127, "020406e1d05cdc2aa287641f7ae2cc39"},
        {128, "e510683b3f5ffe4093d021808bc6ff70"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hexOf(std::string(c.length, 'a')), c.digest) << "length " << c.length;
}

TEST(Md5, MillionAsStreamedInUnevenPieces) {
    Md5Context context;
    md5Init(context);
    const std::string chunk(997, 'a');  // a prime, so pieces straddle block borders
    size_t left = 1000000;
    while (left > 0) {
        const size_t take = std::min(left, chunk.size());
        md5Update(context, chunk.data(), take);
        left -= take;
    }
    Md5Digest digest;
    md5Final(context, digest);
    EXPECT_EQ(md5ToHex(digest), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, EveryPieceSizeGivesTheOneShotDigest) {
    std::string text;
    for (int i = 0; i < 300; ++i) text.push_back(char(i * 7 + 3));
    const std::string expected = hexOf(text);
    for (size_t piece = 1; piece <= 130; ++piece) {
        Md5Context context;
        md5Init(context);
        for (size_t at = 0; at < text.size(); at += piece) {
            md5Update(context, text.data() + at, std::min(piece, text.size() - at));
        }
        md5Update(context, nullptr, 0);  // an empty run changes nothing
        Md5Digest digest;
        md5Final(context, digest);
        EXPECT_EQ(md5ToHex(digest), expected) << "piece size " << piece;
    }
}

TEST(Md5, HexIsLowercaseHighNibbleFirst) {
    Md5Digest digest{};
    digest[0] = 0xAB;
    digest[1] = 0x05;
    digest[15] = 0xF0;
    EXPECT_EQ(md5ToHex(digest), "ab0500000000000000000000000000f0");
}

}  // namespace
